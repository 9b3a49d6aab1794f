# libFuzzer targets (configure with -DZYL_FUZZ=ON and clang; `make fuzz` does both).
#
# zyl_add_fuzzer(<name> SOURCES <files...> [LIBS <targets...>])
# One line per target, in tests/fuzz/CMakeLists.txt. The target's seed corpus is the folder
# tests/fuzz/seeds/<name>/ and its dictionary tests/fuzz/<name>.dict when there is one, else
# the SQL words of tests/fuzz/sql.dict. Every target is listed in <build>/fuzzers.txt (name,
# program, seeds, dictionary; tab-separated), which scripts/run-fuzzers walks.
#
# With ZYL_FUZZ the whole build is instrumented for coverage, AddressSanitizer and
# UndefinedBehaviorSanitizer (top-level CMakeLists.txt), so a target may link any library.
add_custom_target(fuzzers)
set(ZYL_FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)

function(zyl_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS} Threads::Threads)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set(dict ${ZYL_FUZZ_DIR}/${name}.dict)
  if(NOT EXISTS ${dict})
    set(dict ${ZYL_FUZZ_DIR}/sql.dict)
  endif()
  if(NOT IS_DIRECTORY ${ZYL_FUZZ_DIR}/seeds/${name})
    message(FATAL_ERROR "fuzz target ${name} has no seed corpus in tests/fuzz/seeds/${name}/")
  endif()
  set_property(GLOBAL APPEND PROPERTY ZYL_FUZZERS "${name}\t$<TARGET_FILE:${name}>\t${ZYL_FUZZ_DIR}/seeds/${name}\t${dict}")
  add_dependencies(fuzzers ${name})
endfunction()

# Called once at the end of the top-level CMakeLists.txt.
function(zyl_write_fuzzer_list)
  get_property(lines GLOBAL PROPERTY ZYL_FUZZERS)
  list(JOIN lines "\n" text)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzzers.txt CONTENT "${text}\n")
endfunction()
