# cmake -DINPUT=glyphlist.txt -DOUTPUT=glyphlist_data.cpp -P embed_glyphlist.cmake
file(READ ${INPUT} text)
string(FIND "${text}" ")glyphlist\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "glyph list text contains the raw-string delimiter")
endif()
file(WRITE ${OUTPUT}.tmp
  "// Generated from data/glyphlist.txt; do not edit.\n"
  "#include <string_view>\n"
  "namespace velko {\n"
  "extern const std::string_view kGlyphListText;\n"
  "const std::string_view kGlyphListText = R\"glyphlist(${text})glyphlist\";\n"
  "}  // namespace velko\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
file(REMOVE ${OUTPUT}.tmp)
