# Writes a C++ source file that defines a zero-terminated char array holding a text file's bytes.
# Run as a script: cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -DNAMESPACE=<ns>
#                        [-DPREPEND=<file>[;<file>...]] -P embed_text_file.cmake
# PREPEND names files whose texts go in front of INPUT's, in their order (for example headers both
# sides share).
# Plain CMake only, so it works the same for native and cross builds.
if(NOT INPUT OR NOT OUTPUT OR NOT SYMBOL)
  message(FATAL_ERROR "embed_text_file.cmake needs INPUT, OUTPUT and SYMBOL")
endif()
file(READ "${INPUT}" bytes HEX)
set(front "")
foreach(header IN LISTS PREPEND)
  file(READ "${header}" text HEX)
  string(APPEND front "${text}")
endforeach()
set(bytes "${front}${bytes}")
# Sixteen characters a line (32 hex digits) keeps the generated file readable.
string(REGEX REPLACE "(................................)" "\\1\n    " bytes "${bytes}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
set(text "// Generated from ${name} at build time; do not edit.\n")
if(NAMESPACE)
  string(APPEND text "namespace ${NAMESPACE} {\n")
endif()
string(APPEND text "extern const char ${SYMBOL}[];\nconst char ${SYMBOL}[] = {\n    ${bytes}'\\0'};\n")
if(NAMESPACE)
  string(APPEND text "}\n")
endif()
# Rewrite only on change so that an unchanged source does not rebuild.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
  if(previous STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
