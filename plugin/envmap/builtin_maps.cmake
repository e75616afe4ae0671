# Built-in environment maps: runs tools/mapgen at build time and embeds its output in lumet_core.
# Included from plugin/CMakeLists.txt after lumet_core is defined.
#
# The generator must run on the build machine. Native builds compile it here. Cross builds (the
# MinGW build) either name a prebuilt generator with -DLUMET_MAPGEN_EXECUTABLE=/path/lumet_mapgen
# or let this file build tools/mapgen as a separate project with the build machine's compiler.
set(LUMET_MAPGEN_EXECUTABLE "" CACHE FILEPATH
    "Prebuilt lumet_mapgen for the build machine (empty: build it as part of this build)")

if(LUMET_MAPGEN_EXECUTABLE)
  set(lumet_mapgen_command ${LUMET_MAPGEN_EXECUTABLE})
  set(lumet_mapgen_depends ${LUMET_MAPGEN_EXECUTABLE})
elseif(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(lumet_mapgen_host_dir ${CMAKE_BINARY_DIR}/mapgen-host)
  ExternalProject_Add(lumet_mapgen_host
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/mapgen
    BINARY_DIR ${lumet_mapgen_host_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${lumet_mapgen_host_dir}/lumet_mapgen
    BUILD_ALWAYS OFF)
  set(lumet_mapgen_command ${lumet_mapgen_host_dir}/lumet_mapgen)
  set(lumet_mapgen_depends lumet_mapgen_host ${lumet_mapgen_host_dir}/lumet_mapgen)
else()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/mapgen ${CMAKE_BINARY_DIR}/tools/mapgen)
  set(lumet_mapgen_command $<TARGET_FILE:lumet_mapgen>)
  set(lumet_mapgen_depends lumet_mapgen)
endif()

set(lumet_maps_dir ${CMAKE_BINARY_DIR}/generated/envmaps)
file(MAKE_DIRECTORY ${lumet_maps_dir})
set(LUMET_BUILTIN_RAW_MAPS ${lumet_maps_dir}/builtin_maps_raw.bin)
set(LUMET_BUILTIN_DIAMOND_JPEG ${lumet_maps_dir}/diamond.jpg)
add_custom_command(
  OUTPUT ${LUMET_BUILTIN_RAW_MAPS} ${LUMET_BUILTIN_DIAMOND_JPEG}
  COMMAND ${lumet_mapgen_command} ${lumet_maps_dir}
  DEPENDS ${lumet_mapgen_depends}
  COMMENT "Generating the built-in environment maps"
  VERBATIM)

# The generated source pulls both files in with the assembler's .incbin; the object depends on
# them so it is rebuilt whenever the generator's output changes.
configure_file(${CMAKE_CURRENT_LIST_DIR}/builtin_map_data.cpp.in
               ${lumet_maps_dir}/builtin_map_data.cpp @ONLY)
target_sources(lumet_core PRIVATE ${lumet_maps_dir}/builtin_map_data.cpp)
set_source_files_properties(${lumet_maps_dir}/builtin_map_data.cpp PROPERTIES
  OBJECT_DEPENDS "${LUMET_BUILTIN_RAW_MAPS};${LUMET_BUILTIN_DIAMOND_JPEG}")

# stb_image decodes the Diamond map (only its header directory, so a cross build does not pick up
# the build machine's system headers).
find_path(LUMET_STB_DIR stb_image.h PATH_SUFFIXES stb PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          REQUIRED)
target_include_directories(lumet_core SYSTEM PRIVATE ${LUMET_STB_DIR})
