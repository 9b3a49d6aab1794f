# The layer benchmark drives zylo and the statement component on one session, and fills its table
# through SQLite directly.
target_link_libraries(${name} PRIVATE zylo dblib10 SQLite::SQLite3)
target_compile_definitions(${name} PRIVATE ZYL_BENCH_LIB_DIR="${ZYL_LIB_DIR}")
