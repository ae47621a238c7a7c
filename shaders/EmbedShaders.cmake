# Turns a pair of shader stages (and, when given, a LAYERS stage: the vertex
# stage that fills the per-layer table) into constant strings compiled into
# a library, so that nothing is read at run time. A COMMON file, when given, is
# inserted into each stage right after its version line; a PARAMETERS table
# (Parameters.def), when given, goes before it as the uniform declarations
# and the band, count and fold rules of its rows.
#   cmake -DVERTEX=<.glsl> -DFRAGMENT=<.glsl> [-DLAYERS=<.glsl>] [-DCOMMON=<.glsl>] [-DPARAMETERS=<.def>]
#         -DNAME=<identifier> -DHEADER=<.h> -DOUTPUT=<.cpp> -P EmbedShaders.cmake
# defines shaders::<NAME>Vertex, shaders::<NAME>Fragment and, with LAYERS,
# shaders::<NAME>Layers.
file(READ "${VERTEX}" vertexText)
file(READ "${FRAGMENT}" fragmentText)
set(layersText "")
if(LAYERS)
  file(READ "${LAYERS}" layersText)
endif()
set(commonText "")
if(COMMON)
  file(READ "${COMMON}" commonText)
endif()

# The parameters' uniforms and rules, row by row, in the table's order.
if(PARAMETERS)
  file(STRINGS "${PARAMETERS}" rows REGEX "^TESSARVANDER_PARAMETER\\(")
  set(declarations "")
  set(rules "")
  foreach(row IN LISTS rows)
    if(NOT row MATCHES "^TESSARVANDER_PARAMETER\\(([0-9]+), ([A-Za-z]+), \"([^\"]*)\", ([-0-9.]+f), ([A-Za-z]+), ")
      message(FATAL_ERROR "${PARAMETERS}: a row not in the table's form: ${row}")
    endif()
    set(name "${CMAKE_MATCH_3}")
    set(uniform "${CMAKE_MATCH_5}")
    if(uniform STREQUAL "none")
      continue()
    endif()
    string(APPEND declarations "uniform float ${uniform}; // ${name}\n")
    if(row MATCHES "[ (]BANDS\\(([0-9.]+f),")
      string(APPEND rules "int ${uniform}Band() { return int(${uniform} * ${CMAKE_MATCH_1}); }\n")
    endif()
    if(row MATCHES "COUNT\\(floor, ([0-9.]+f), ([0-9]+),")
      string(APPEND rules "float ${uniform}Count() { return floor(${uniform} * ${CMAKE_MATCH_1}) + ${CMAKE_MATCH_2}.0; }\n")
    elseif(row MATCHES "COUNT\\(int, ([0-9.]+f), ([0-9]+),")
      string(APPEND rules "float ${uniform}Count() { return float(int(${uniform} * ${CMAKE_MATCH_1}) + ${CMAKE_MATCH_2}); }\n")
    endif()
    if(row MATCHES "WEDGES\\(([^)]*)\\)")
      string(REPLACE ", " ";" thresholds "${CMAKE_MATCH_1}")
      set(wedges 2)
      set(rule "int ${uniform}Wedges()\n{\n    int wedges = 0;\n")
      foreach(threshold IN LISTS thresholds)
        string(APPEND rule "    if (${uniform} > ${threshold}) wedges = ${wedges};\n")
        math(EXPR wedges "${wedges} * 2")
      endforeach()
      string(APPEND rules "${rule}    return wedges;\n}\n")
    endif()
  endforeach()
  set(commonText "// ---- Parameters: generated from the parameter table ----------------------\n\n${declarations}\n${rules}\n${commonText}")
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
if(LAYERS)
  with_common("${layersText}" layersText)
endif()
foreach(text IN ITEMS "${vertexText}" "${fragmentText}" "${layersText}")
  string(FIND "${text}" ")glsl\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "A shader source contains the raw-string delimiter )glsl\"")
  endif()
endforeach()
set(layersDefinition "")
if(LAYERS)
  set(layersDefinition "const char* const ${NAME}Layers = R\"glsl(${layersText})glsl\";\n\n")
endif()
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from .glsl files; edit those instead.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace shaders {\n\n"
  "const char* const ${NAME}Vertex = R\"glsl(${vertexText})glsl\";\n\n"
  "const char* const ${NAME}Fragment = R\"glsl(${fragmentText})glsl\";\n\n"
  "${layersDefinition}"
  "}  // namespace shaders\n")
# Only touch the output when it changed, so an unrelated rebuild recompiles nothing.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
