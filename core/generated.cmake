# Embedded data tables: text files under data/ become C++ sources in the build tree.
# The glyph list is carried verbatim as a raw string literal; regenerated at build time
# whenever the text file changes.
set(VELKO_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${VELKO_GENERATED_DIR})

add_custom_command(
  OUTPUT ${VELKO_GENERATED_DIR}/glyphlist_data.cpp
  COMMAND ${CMAKE_COMMAND}
          -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/data/glyphlist.txt
          -DOUTPUT=${VELKO_GENERATED_DIR}/glyphlist_data.cpp
          -P ${CMAKE_CURRENT_SOURCE_DIR}/embed_glyphlist.cmake
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/data/glyphlist.txt
          ${CMAKE_CURRENT_SOURCE_DIR}/embed_glyphlist.cmake
  COMMENT "Embedding the Adobe Glyph List"
  VERBATIM)
# An object library, so that builds which take only part of the engine (the fuzz
# targets) can reuse the embedded tables.
add_library(velko_generated OBJECT ${VELKO_GENERATED_DIR}/glyphlist_data.cpp)
target_sources(velko_core PRIVATE $<TARGET_OBJECTS:velko_generated>)
