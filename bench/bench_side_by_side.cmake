# The side-by-side driver makes its files through our client library and SQLite, and starts one
# worker per library (bench/side/Side.h); the workers land next to it under names the make bench
# loop does not run by themselves. SOCI's and Qt's workers are built only with ZYL_BENCH_PEERS
# (make bench sets it after installing their packages), so no other build needs them.
target_link_libraries(${name} PRIVATE dblib10 SQLite::SQLite3)
target_compile_definitions(${name} PRIVATE ZYL_SIDE_DIR="${CMAKE_CURRENT_BINARY_DIR}")

function(zyl_side_worker worker source)
  add_executable(${worker} ${CMAKE_CURRENT_SOURCE_DIR}/side/${source})
  set_target_properties(${worker} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(${name} ${worker})
endfunction()

zyl_side_worker(zylside-sqlite work_sqlite.cpp)
target_link_libraries(zylside-sqlite PRIVATE SQLite::SQLite3)
zyl_side_worker(zylside-ours work_ours.cpp)
target_link_libraries(zylside-ours PRIVATE zylsa dblib10)
target_compile_definitions(zylside-ours PRIVATE ZYL_BENCH_LIB_DIR="${ZYL_LIB_DIR}")

if(ZYL_BENCH_PEERS)
  find_path(SOCI_INCLUDE_DIR soci/soci.h)
  find_library(SOCI_CORE_LIBRARY soci_core)
  find_library(SOCI_SQLITE3_LIBRARY soci_sqlite3)
  if(SOCI_INCLUDE_DIR AND SOCI_CORE_LIBRARY AND SOCI_SQLITE3_LIBRARY)
    zyl_side_worker(zylside-soci work_soci.cpp)
    target_include_directories(zylside-soci SYSTEM PRIVATE ${SOCI_INCLUDE_DIR})
    target_link_libraries(zylside-soci PRIVATE ${SOCI_SQLITE3_LIBRARY} ${SOCI_CORE_LIBRARY} SQLite::SQLite3)
  else()
    message(STATUS "bench: SOCI with its sqlite3 backend not found, its side-by-side worker is left out")
  endif()
  find_package(Qt5 COMPONENTS Core Sql QUIET)
  if(Qt5Sql_FOUND)
    zyl_side_worker(zylside-qt work_qt.cpp)
    target_link_libraries(zylside-qt PRIVATE Qt5::Core Qt5::Sql)
  else()
    message(STATUS "bench: Qt 5 SQL not found, its side-by-side worker is left out")
  endif()
endif()
