# Windows-only parts of the build, included from the top-level CMakeLists when WIN32.
# - resources (the plug-in's property list and version information) need the RC compiler;
# - GoogleTest has no MinGW package, so the tests build it from the sources that libgtest-dev
#   installs under /usr/src/googletest (the same version as the Linux build);
# - Google Benchmark has no MinGW package either: the benchmarks build only where it is found.
enable_language(RC)

if(LUMET_BUILD_TESTS AND NOT TARGET GTest::gtest)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    set(LUMET_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
    if(NOT EXISTS ${LUMET_GTEST_SOURCE_DIR}/CMakeLists.txt)
      message(FATAL_ERROR "GoogleTest sources not found in ${LUMET_GTEST_SOURCE_DIR} (Debian: libgtest-dev)")
    endif()
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    add_subdirectory(${LUMET_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
endif()

if(LUMET_BUILD_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(STATUS "Google Benchmark not available for this target: benchmarks are not built")
    set(LUMET_BUILD_BENCH OFF)
  endif()
endif()

# piplgen writes the PiPL bytes at build time. A native build makes it (tools/piplgen); a cross
# build runs a prebuilt one named by LUMET_PIPLGEN_EXECUTABLE or builds tools/piplgen as a
# separate project with the build machine's compiler.
set(LUMET_PIPLGEN_EXECUTABLE "" CACHE FILEPATH
    "piplgen built for the build machine (empty: build it as part of this build)")
if(LUMET_PIPLGEN_EXECUTABLE)
  set(LUMET_PIPLGEN_COMMAND ${LUMET_PIPLGEN_EXECUTABLE})
  set(LUMET_PIPLGEN_DEPENDS ${LUMET_PIPLGEN_EXECUTABLE})
elseif(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(lumet_piplgen_host_dir ${CMAKE_BINARY_DIR}/piplgen-host)
  ExternalProject_Add(lumet_piplgen_host
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/piplgen
    BINARY_DIR ${lumet_piplgen_host_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    BUILD_COMMAND ${CMAKE_COMMAND} --build . --target piplgen
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${lumet_piplgen_host_dir}/piplgen
    BUILD_ALWAYS OFF)
  set(LUMET_PIPLGEN_COMMAND ${lumet_piplgen_host_dir}/piplgen)
  set(LUMET_PIPLGEN_DEPENDS lumet_piplgen_host ${lumet_piplgen_host_dir}/piplgen)
else()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/piplgen ${CMAKE_BINARY_DIR}/tools/piplgen)
  set(LUMET_PIPLGEN_COMMAND $<TARGET_FILE:piplgen>)
  set(LUMET_PIPLGEN_DEPENDS piplgen)
endif()

# The plug-in's Windows side: the .aex name, the exact export list and the resources.
function(lumet_windows_plugin target)
  set_target_properties(${target} PROPERTIES SUFFIX ".aex")
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/plugin/host/Lumet.def)

  set(LUMET_PIPL_BIN ${CMAKE_CURRENT_BINARY_DIR}/generated/pipl.bin)
  add_custom_command(OUTPUT ${LUMET_PIPL_BIN}
                     COMMAND ${LUMET_PIPLGEN_COMMAND} ${LUMET_PIPL_BIN}
                     DEPENDS ${LUMET_PIPLGEN_DEPENDS}
                     COMMENT "Generating the PiPL resource bytes" VERBATIM)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/generated/lumet.rc)
  configure_file(${PROJECT_SOURCE_DIR}/plugin/host/lumet.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${LUMET_PIPL_BIN})
  target_sources(${target} PRIVATE ${rc})
endfunction()
