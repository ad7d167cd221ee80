// Block assembly: a page's content as an ordered list of typed blocks, each stamped with
// its position in the page's reading order, plus all the page's lines.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "arabic.h"
#include "content.h"
#include "types.h"

namespace velko {

class FontMap;

// A run of consecutive lines of one region.
struct TextBlock {
  std::vector<TextLine> lines;  // owned copies, in reading order
  Rect bbox;                    // the whole region's box, also when it holds part of its lines
  std::size_t reading_index = 0;
  double confidence = 1.0;  // 1 - unresolved glyphs / glyphs of the lines

  // The lines' texts joined by line feeds.
  std::string text() const;
};

// One block of a page, a closed set of kinds. Text is the one kind produced so far; image
// and table blocks join this variant with image extraction and table reconstruction.
struct Block {
  std::variant<TextBlock> value;

  std::string text() const;
  std::size_t reading_index() const;
};

namespace blocks {

// The page's blocks in reading order and all its lines (every region's, in region order).
std::pair<std::vector<Block>, std::vector<TextLine>> assemble(const PageGlyphs& page,
                                                              const FontMap& fonts);

}  // namespace blocks
}  // namespace velko
