// Page assessment: how far a page's extracted text can be trusted. Pure counting over what
// the earlier stages produced; it reads nothing from the file and never fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "arabic.h"
#include "content.h"
#include "font.h"

namespace velko {

// Ordered: raising a verdict to at least Degraded leaves NeedsOcr as it is.
enum class Verdict : std::uint8_t { Ok = 0, Degraded = 1, NeedsOcr = 2 };

// "ok", "degraded" or "needs_ocr".
std::string_view verdict_text(Verdict v);

struct Assessment {
  std::vector<std::string> reasons;
  std::uint64_t glyph_count = 0;
  std::uint64_t unresolved_count = 0;
  std::uint64_t font_count = 0;
  std::uint64_t fonts_without_unicode = 0;
  std::uint64_t invisible_count = 0;
  std::uint64_t presentation_form_count = 0;
  std::uint64_t replacement_count = 0;
  std::uint64_t char_count = 0;
  bool mixed_separators = false;
  double confidence = 0.0;
  std::uint32_t page = 0;
  Verdict verdict = Verdict::Ok;
};

// True when two or more different characters act as digit-grouping separators: a comma,
// full stop or Arabic separator after an ASCII digit and before exactly three of them.
bool has_mixed_separators(std::u32string_view text);

Assessment assess(std::uint32_t page_number, const PageGlyphs& glyphs, const FontMap& fonts,
                  const std::vector<TextLine>& lines);

}  // namespace velko
