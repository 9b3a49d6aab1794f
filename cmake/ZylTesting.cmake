# zyl_add_test(<name> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>])
# One GoogleTest executable, its cases registered with CTest one by one. Tests find the
# shared libraries the build made (client-library flavours, test stand-ins) through
# ZYL_LIB_DIR, and make their own temporary folders for database files.
function(zyl_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "ZYL_LIB_DIR=${ZYL_LIB_DIR}"
               SKIP_REGULAR_EXPRESSION "needs a PostgreSQL server")
endfunction()

# zyl_run_on_postgres(<name>): the cases of a zyl_add_test executable once more, named
# "postgres:<case>", with ZYL_TEST_ENGINE=postgres: on the network engine, against the server
# that ZYL_PG_SERVER names (host:port, superuser dba/sql). Without a server they are skipped.
function(zyl_run_on_postgres name)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    TEST_PREFIX "postgres:"
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES TIMEOUT 300 ENVIRONMENT "ZYL_LIB_DIR=${ZYL_LIB_DIR}"
               ENVIRONMENT_MODIFICATION "ZYL_TEST_ENGINE=set:postgres"
               SKIP_REGULAR_EXPRESSION "needs a PostgreSQL server")
endfunction()
