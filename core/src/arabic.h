// Arabic line reconstruction: placed glyphs become lines of text in logical reading order
// (right-to-left runs, left-to-right digit and Latin runs, diacritics kept with their
// letters, presentation forms folded to base letters), and a page's glyphs become regions
// of such lines.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "content.h"
#include "types.h"

namespace velko {

class FontMap;

// One glyph on its way into a line, with its position in its own reading frame: `u` grows
// in the direction the glyph advances, `v` is the page coordinate across the baseline.
struct Placed {
  Glyph glyph;
  std::optional<std::string> actual_text;  // replaces the decoded text when present
  double u = 0;
  double v = 0;
  bool anchored = false;  // u and v were moved onto a host glyph
};

// One finished line.
struct TextLine {
  std::string text;  // logical order, NFKC, single spaces, trimmed; never empty
  Style style;       // the style most of the line's glyphs share
  double baseline = 0;
  Rect bbox;
  std::size_t unresolved = 0;  // glyphs whose code decoded to nothing (shown as U+FFFD)
  std::size_t glyphs = 0;      // glyphs given for this line
  bool rtl = false;            // holds right-to-left text and was reordered as such
};

// One block of the page as the layout sees it: lines and/or figures.
struct Region {
  std::vector<TextLine> lines;
  std::vector<std::size_t> figures;  // indices into the figure boxes, ascending
  Rect bbox;
};

namespace arabic {

// One Placed per glyph, in glyph order, with ActualText spans attached: the first glyph of
// a span carries its text, the others the empty text.
std::vector<Placed> apply_actual_text(const PageGlyphs& page);

// Moves zero-advance letters onto the wide glyph whose advance box they sit in.
void anchor_zero_advance(std::span<Placed> glyphs, const FontMap& fonts);

// Groups glyphs into lines by baseline: top line first, each line's glyphs by `u`.
std::vector<std::vector<Placed>> group_into_lines(std::span<const Placed> glyphs);

// The upper median of the glyphs' type sizes; 10 for no glyphs.
double median_text_size(std::span<const Placed> glyphs);

// Whether the text is a combining mark (after NFKC and leading spaces).
bool is_mark_glyph(std::string_view text);

// Builds one line's logical text, box, style and counts; nothing when the text is empty.
// With VELKO_DBG set in the environment, hamza merges and doubled alef-with-hamza-below
// are reported on standard error.
std::optional<TextLine> build_line(std::span<const Placed> glyphs, const FontMap& fonts);

// The page's regions in reading order, segmented by XY-cut over the glyphs and the figure
// boxes. (The tagged-page branch, which follows the structure tree's reading order instead,
// joins when reading orders are available.)
std::vector<Region> reconstruct_regions(const PageGlyphs& page, const FontMap& fonts,
                                        std::span<const Rect> figures);

// The union of the lines' boxes and the listed figures' boxes; nothing when none.
std::optional<Rect> region_bbox(std::span<const TextLine> lines,
                                std::span<const std::size_t> figure_indices,
                                std::span<const Rect> figures);

// The text of the glyphs whose horizontal centre and baseline lie in `rect`, lines joined
// by single spaces.
std::string text_within(const PageGlyphs& page, const FontMap& fonts, const Rect& rect);

// The lines' texts joined by line feeds.
std::string lines_to_text(std::span<const TextLine> lines);

}  // namespace arabic
}  // namespace velko
