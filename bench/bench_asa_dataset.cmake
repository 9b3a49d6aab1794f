# The data-set benchmark drives TAsaDataset (which loads the client library by file name from the
# build's library folder) and reads the same file through SQLite directly.
target_link_libraries(${name} PRIVATE zylsa dblib10 SQLite::SQLite3)
target_compile_definitions(${name} PRIVATE ZYL_BENCH_LIB_DIR="${ZYL_LIB_DIR}")
