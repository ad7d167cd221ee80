// Content interpretation: runs a page's content stream (and the form XObjects it paints)
// and records placed glyphs, ruled lines, marked-content spans and XObject placements.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>
#include <string>
#include <vector>

#include "types.h"

namespace velko {

// A horizontal or vertical rule found in a painted path, in page space.
struct RuledLine {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// One Do placement: the qualified XObject name and the CTM when it ran.
struct XObjectUse {
  std::string name;
  std::array<double, 6> ctm{1, 0, 0, 1, 0, 0};
  std::size_t glyph_index = 0;
};

// Glyph-index span [start, end) of a marked-content section with an MCID.
struct McidSpan {
  std::size_t start = 0;
  std::size_t end = 0;
  std::uint32_t mcid = 0;
};

// Glyph-index span [start, end) whose text is replaced by /ActualText.
struct ActualText {
  std::string text;
  std::size_t start = 0;
  std::size_t end = 0;
};

// Everything the interpreter records for one page.
struct PageGlyphs {
  std::vector<Glyph> glyphs;
  std::vector<XObjectUse> xobjects;
  std::vector<ActualText> actual_texts;
  std::vector<McidSpan> mcid_spans;
  std::vector<RuledLine> ruled_lines;
};

// Interprets a page's content with its forms. Bytes that cannot be tokenised give a
// PageGlyphs with every list empty; nothing here fails.
PageGlyphs interpret_with_forms(const Bytes& content, const std::vector<FontInfo>& fonts,
                                const std::vector<RawForm>& forms, const GlyphWidths& widths);

// The text a PDF text string encodes: UTF-16BE after an FE FF mark, else ISO 8859-1.
std::string pdf_text_string(std::string_view bytes);

}  // namespace velko
