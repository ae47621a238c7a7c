# Turns a pair of shader stages into constant strings compiled into a
# library, so that nothing is read at run time. A COMMON file, when given, is
# inserted into each stage right after its version line.
#   cmake -DVERTEX=<.glsl> -DFRAGMENT=<.glsl> [-DCOMMON=<.glsl>] -DNAME=<identifier>
#         -DHEADER=<.h> -DOUTPUT=<.cpp> -P EmbedShaders.cmake
# defines shaders::<NAME>Vertex and shaders::<NAME>Fragment.
file(READ "${VERTEX}" vertexText)
file(READ "${FRAGMENT}" fragmentText)
set(commonText "")
if(COMMON)
  file(READ "${COMMON}" commonText)
endif()

function(with_common stageText result)
  string(FIND "${stageText}" "\n" endOfVersion)
  string(SUBSTRING "${stageText}" 0 ${endOfVersion} versionLine)
  if(NOT versionLine MATCHES "^#version ")
    message(FATAL_ERROR "A shader stage must begin with its #version line")
  endif()
  math(EXPR restStart "${endOfVersion} + 1")
  string(SUBSTRING "${stageText}" ${restStart} -1 rest)
  if(commonText STREQUAL "")
    set(${result} "${stageText}" PARENT_SCOPE)
  else()
    set(${result} "${versionLine}\n\n${commonText}\n${rest}" PARENT_SCOPE)
  endif()
endfunction()

with_common("${vertexText}" vertexText)
with_common("${fragmentText}" fragmentText)
foreach(text IN ITEMS "${vertexText}" "${fragmentText}")
  string(FIND "${text}" ")glsl\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "A shader source contains the raw-string delimiter )glsl\"")
  endif()
endforeach()
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from .glsl files; edit those instead.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace shaders {\n\n"
  "const char* const ${NAME}Vertex = R\"glsl(${vertexText})glsl\";\n\n"
  "const char* const ${NAME}Fragment = R\"glsl(${fragmentText})glsl\";\n\n"
  "}  // namespace shaders\n")
# Only touch the output when it changed, so an unrelated rebuild recompiles nothing.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
