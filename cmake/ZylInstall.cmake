# Installing for consumers: the headers under include/zylobase (included as "asa/ZylAsa.h"), the
# shared libraries with SONAME versions, a CMake package (find_package(Zylobase) ->
# Zylobase::zylhost, Zylobase::zylpack, Zylobase::zylsa), pkg-config files (zylhost, zylpack,
# zylsa), the client-library flavours and the driver library that are loaded by file name (so
# unversioned, beside the others), and the tools.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(zyl_libraries zylhost zylpack zylsa)
# The packages for versions 4 and 3 of the host framework and the binding over each, when built:
# installed and versioned like the others (Zylobase::zylpack4 ..., pkg-config zylpack4 ...).
if(ZYL_HOST_VARIANTS)
  list(APPEND zyl_libraries zylpack4 zylsa4 zylpack3 zylsa3)
endif()
foreach(lib ${zyl_libraries})
  set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    # Installed, a library finds the client libraries beside itself.
    INSTALL_RPATH "$ORIGIN")
  target_include_directories(${lib} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/zylobase>)
endforeach()
install(TARGETS ${zyl_libraries} EXPORT ZylobaseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT ZylobaseTargets NAMESPACE Zylobase:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Zylobase)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/ZylobaseConfig.cmake.in
  ${CMAKE_BINARY_DIR}/ZylobaseConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Zylobase)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ZylobaseConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ZylobaseConfig.cmake ${CMAKE_BINARY_DIR}/ZylobaseConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Zylobase)

# The public headers, folder by folder; the units' internal headers stay behind.
foreach(dir host base dataset asa components design)
  file(GLOB zyl_headers ${CMAKE_SOURCE_DIR}/${dir}/*.h)
  list(FILTER zyl_headers EXCLUDE REGEX "(Internal|PlatformInt)\\.h$")
  install(FILES ${zyl_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zylobase/${dir})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/dblib/esql.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zylobase/dblib)

# pkg-config: one file per library, each requiring the one below.
set(ZYL_PC_DESCRIPTION_zylhost "Zylobase host framework: components, streams, data sets, forms")
set(ZYL_PC_DESCRIPTION_zylpack "Zylobase server-neutral data access: sessions, statements, data sets, design time")
set(ZYL_PC_DESCRIPTION_zylsa "Zylobase SQL Anywhere binding, components and their editors")
set(ZYL_PC_REQUIRES_zylhost "")
set(ZYL_PC_REQUIRES_zylpack "Requires: zylhost = ${PROJECT_VERSION}")
set(ZYL_PC_REQUIRES_zylsa "Requires: zylpack = ${PROJECT_VERSION}")
foreach(version 4 3)
  set(ZYL_PC_DESCRIPTION_zylpack${version}
    "Zylobase server-neutral data access for version ${version} of the host framework (no provider operations)")
  set(ZYL_PC_DESCRIPTION_zylsa${version} "Zylobase SQL Anywhere binding over zylpack${version}")
  set(ZYL_PC_REQUIRES_zylpack${version} "Requires: zylhost = ${PROJECT_VERSION}")
  set(ZYL_PC_REQUIRES_zylsa${version} "Requires: zylpack${version} = ${PROJECT_VERSION}")
endforeach()
file(RELATIVE_PATH ZYL_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" ZYL_PC_TO_PREFIX "${ZYL_PC_TO_PREFIX}")
foreach(lib ${zyl_libraries})
  set(ZYL_PC_NAME ${lib})
  set(ZYL_PC_DESCRIPTION ${ZYL_PC_DESCRIPTION_${lib}})
  set(ZYL_PC_REQUIRES ${ZYL_PC_REQUIRES_${lib}})
  set(ZYL_PC_PRIVATE "")
  if(lib STREQUAL "zylhost")
    set(ZYL_PC_PRIVATE "Libs.private: -lpthread -ldl")
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/cmake/zylobase.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${lib}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${lib}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# Loaded by file name at run time: no SONAME version.
foreach(t dbl40t dbl50t dblib6 dblib7 dblib8 dblib9 dblib10 dbexpzyl)
  if(TARGET ${t})
    install(TARGETS ${t} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endforeach()
foreach(t zylo-isql zylo-design zylo-dbx zylcreatedb)
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The libraries export the system's own API only: the standard library's template instances each
# carries are made local by the version script (see cmake/zylobase.map).
# The same for the packages built for older versions of the host framework and for libzylo.
foreach(lib ${zyl_libraries} zylpack4 zylpack3 zylsa4 zylsa3 zylo)
  if(TARGET ${lib})
    target_link_options(${lib} PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/zylobase.map)
    set_property(TARGET ${lib} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/zylobase.map)
  endif()
endforeach()
# Hidden visibility by default: only what the units' headers declare (they say
# "#pragma GCC visibility push(default)") is exported; helpers of one .cpp stay inside.
foreach(t zylhost_obj zylpack_obj zylpack_v5_obj zylpack_v4_obj zylpack_v3_obj zylsa_obj zylsa_other_obj)
  if(TARGET ${t})
    target_compile_options(${t} PRIVATE -fvisibility=hidden)
  endif()
endforeach()
