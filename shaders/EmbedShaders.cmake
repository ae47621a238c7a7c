# Turns the shader stages into constant strings compiled into the library, so
# the plugin reads no file at run time.
#   cmake -DVERTEX=<.glsl> -DFRAGMENT=<.glsl> -DOUTPUT=<.cpp> -P EmbedShaders.cmake
file(READ "${VERTEX}" vertexText)
file(READ "${FRAGMENT}" fragmentText)
foreach(text IN ITEMS "${vertexText}" "${fragmentText}")
  string(FIND "${text}" ")glsl\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "A shader source contains the raw-string delimiter )glsl\"")
  endif()
endforeach()
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from shaders/*.glsl; edit those files instead.\n"
  "#include \"ShaderSources.h\"\n\n"
  "namespace shaders {\n\n"
  "const char* const tessarvanderVertex = R\"glsl(${vertexText})glsl\";\n\n"
  "const char* const tessarvanderFragment = R\"glsl(${fragmentText})glsl\";\n\n"
  "}  // namespace shaders\n")
# Only touch the output when it changed, so an unrelated rebuild recompiles nothing.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
