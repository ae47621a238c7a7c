# Turns a text file (a web page) into a constant string compiled into a
# library, so that nothing is read at run time.
#   cmake -DINPUT=<file> -DNAME=<identifier> -DOUTPUT=<.cpp> -P EmbedText.cmake
# defines tool::<NAME>.
file(READ "${INPUT}" text)
string(FIND "${text}" ")text\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter )text\"")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from ${INPUT}; edit that instead.\n"
  "namespace tool {\n\n"
  "extern const char* const ${NAME};\n"
  "const char* const ${NAME} = R\"text(${text})text\";\n\n"
  "}  // namespace tool\n")
# Only touch the output when it changed, so an unrelated rebuild recompiles nothing.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
