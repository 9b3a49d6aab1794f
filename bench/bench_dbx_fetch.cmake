# The driver benchmark loads libdbexpzyl.so by file name, as a dbExpress host does; it makes and
# fills its database through the client library and SQLite directly.
target_link_libraries(${name} PRIVATE dblib10 SQLite::SQLite3 ${CMAKE_DL_LIBS})
target_compile_definitions(${name} PRIVATE ZYL_BENCH_LIB_DIR="${ZYL_LIB_DIR}")
add_dependencies(${name} dbexpzyl)
