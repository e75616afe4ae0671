# Windows-only test pieces, included at the end of tests/CMakeLists.txt when WIN32.
# The decoy OpenCL.dll of the library search-order test: built into its own folder so that it
# lies beside nothing until the test plants it.
add_library(lumet_opencl_decoy SHARED ${PROJECT_SOURCE_DIR}/tests/platform/decoy/opencl_decoy.cpp)
set_target_properties(lumet_opencl_decoy PROPERTIES PREFIX "" OUTPUT_NAME OpenCL
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/decoy
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/decoy)
lumet_warnings(lumet_opencl_decoy)
if(TARGET lumet_tests_platform)
  add_dependencies(lumet_tests_platform lumet_opencl_decoy)
  target_compile_definitions(lumet_tests_platform PRIVATE
    LUMET_OPENCL_DECOY_PATH="$<TARGET_FILE:lumet_opencl_decoy>")
endif()

# Tests that write images with stb include <stb/...>. Only that folder of the build machine's
# headers is exposed (through a link), never the rest of /usr/include.
find_path(LUMET_STB_PARENT_DIR stb/stb_image_write.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(LUMET_STB_PARENT_DIR)
  set(lumet_test_stb_dir ${CMAKE_CURRENT_BINARY_DIR}/stb-headers)
  file(MAKE_DIRECTORY ${lumet_test_stb_dir})
  file(CREATE_LINK ${LUMET_STB_PARENT_DIR}/stb ${lumet_test_stb_dir}/stb SYMBOLIC)
  get_property(lumet_test_targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${lumet_test_targets})
    if(target MATCHES "^lumet_tests_")
      target_include_directories(${target} SYSTEM PRIVATE ${lumet_test_stb_dir})
    endif()
  endforeach()
endif()

# Without a lumet command for this target (cli/CMakeLists.txt: no zlib or stb), the tests
# that run it (they name its path, directly or through the end-to-end command runner) are left
# out of their programs.
if(NOT TARGET lumet)
  file(GLOB lumet_test_sources ${CMAKE_CURRENT_SOURCE_DIR}/*/*.cpp)
  foreach(source ${lumet_test_sources})
    file(STRINGS ${source} uses_cli REGEX "LUMET_CLI_PATH|command_runner\\.h" LIMIT_COUNT 1)
    if(uses_cli)
      message(STATUS "No lumet command for this target: leaving out ${source}")
      set_source_files_properties(${source} PROPERTIES HEADER_FILE_ONLY TRUE)
    endif()
  endforeach()
endif()
