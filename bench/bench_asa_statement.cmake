# The statement benchmark drives the SQL Anywhere components (which load the client library by
# file name from the build's library folder) and reads and writes through SQLite directly.
target_link_libraries(${name} PRIVATE zylsa dblib10 SQLite::SQLite3)
target_compile_definitions(${name} PRIVATE ZYL_BENCH_LIB_DIR="${ZYL_LIB_DIR}")
