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
