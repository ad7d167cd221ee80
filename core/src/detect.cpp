#include "detect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velko {

namespace {

bool is_ascii_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

bool is_separator_candidate(char32_t c) {
  return c == U',' || c == U'.' || c == 0x060C || c == 0x066B || c == 0x066C;
}

void raise_to(Verdict& v, Verdict at_least) {
  if (static_cast<int>(v) < static_cast<int>(at_least)) v = at_least;
}

// A font has a route to Unicode when it has a ToUnicode entry of any kind, a base encoding
// or a Differences entry.
bool without_unicode(const Font& f) {
  return f.to_unicode.empty() && !f.encoding.base && f.encoding.differences.empty();
}

}  // namespace

std::string_view verdict_text(Verdict v) {
  switch (v) {
    case Verdict::Ok:
      return "ok";
    case Verdict::Degraded:
      return "degraded";
    case Verdict::NeedsOcr:
      return "needs_ocr";
  }
  return "ok";
}

bool has_mixed_separators(std::u32string_view c) {
  char32_t found[5];
  std::size_t distinct = 0;
  const std::size_t n = c.size();
  for (std::size_t i = 1; i + 4 <= n; ++i) {
    if (!is_separator_candidate(c[i]) || !is_ascii_digit(c[i - 1])) continue;
    if (!is_ascii_digit(c[i + 1]) || !is_ascii_digit(c[i + 2]) || !is_ascii_digit(c[i + 3])) {
      continue;
    }
    if (i + 4 < n && is_ascii_digit(c[i + 4])) continue;
    if (std::find(found, found + distinct, c[i]) == found + distinct) {
      found[distinct++] = c[i];
      if (distinct >= 2) return true;
    }
  }
  return false;
}

Assessment assess(std::uint32_t page_number, const PageGlyphs& glyphs, const FontMap& fonts,
                  const std::vector<TextLine>& lines) {
  Assessment a;
  a.page = page_number;

  // The page text: the lines' texts run together, no separator.
  std::string text;
  for (const TextLine& line : lines) text += line.text;
  const std::u32string chars = utf8_to_u32(text);
  a.char_count = chars.size();
  for (char32_t c : chars) {
    if (is_presentation_form(c)) ++a.presentation_form_count;
    if (c == 0xFFFD) ++a.replacement_count;
  }

  a.glyph_count = glyphs.glyphs.size();
  for (const TextLine& line : lines) a.unresolved_count += line.unresolved;
  a.font_count = fonts.fonts.size();
  for (const auto& [name, font] : fonts.fonts) {
    if (without_unicode(font)) ++a.fonts_without_unicode;
  }
  for (const Glyph& g : glyphs.glyphs) {
    if (g.style.render_mode == RenderMode::Invisible || g.style.render_mode == RenderMode::Clip) {
      ++a.invisible_count;
    }
  }
  a.mixed_separators = has_mixed_separators(chars);

  a.verdict = Verdict::Ok;
  if (a.glyph_count == 0) {
    a.reasons.push_back("no text layer: the page paints no glyphs at all");
    a.verdict = Verdict::NeedsOcr;
    a.confidence = 0.0;
    return a;
  }

  const double glyph_count = static_cast<double>(a.glyph_count);
  const double resolved = 1.0 - static_cast<double>(a.unresolved_count) / glyph_count;
  if (resolved < 0.5) {
    // Printed without decimals, an exact half going to the even neighbour.
    char buf[64];
    std::snprintf(buf, sizeof buf, "only %.0f%% of glyph codes could be resolved",
                  std::nearbyint(resolved * 100.0));
    a.reasons.emplace_back(buf);
    a.verdict = Verdict::NeedsOcr;
  } else if (resolved < 1.0) {
    a.reasons.push_back(std::to_string(a.unresolved_count) + " of " +
                        std::to_string(a.glyph_count) + " glyph codes unresolved");
    a.verdict = Verdict::Degraded;
  }

  if (a.fonts_without_unicode > 0) {
    a.reasons.push_back(std::to_string(a.fonts_without_unicode) + " of " +
                        std::to_string(a.font_count) +
                        " fonts have neither /ToUnicode nor a usable /Encoding");
    raise_to(a.verdict, Verdict::Degraded);
  }
  if (a.presentation_form_count > 0) {
    a.reasons.push_back(std::to_string(a.presentation_form_count) +
                        " presentation-form characters survived normalisation");
    raise_to(a.verdict, Verdict::Degraded);
  }
  const bool mostly_invisible = static_cast<double>(a.invisible_count) / glyph_count > 0.9;
  if (mostly_invisible) {
    a.reasons.push_back(
        "text is painted invisibly \xE2\x80\x94 this looks like an OCR layer over a scan");
    raise_to(a.verdict, Verdict::Degraded);
  }
  if (a.mixed_separators) {
    a.reasons.push_back(
        "digits are grouped with both `,` and `.` \xE2\x80\x94 some numbers may have the wrong "
        "separator, and so the wrong value");
    raise_to(a.verdict, Verdict::Degraded);
  }
  if (a.char_count < 2) {
    a.reasons.push_back("glyphs were painted but produced almost no text");
    a.verdict = Verdict::NeedsOcr;
    a.confidence = 0.0;
    return a;
  }

  if (a.verdict == Verdict::NeedsOcr) {
    a.confidence = 0.0;
    return a;
  }
  double c = resolved;
  c -= std::min(static_cast<double>(a.replacement_count + a.presentation_form_count) /
                    static_cast<double>(a.char_count),
                0.5);
  if (a.font_count > 0) {
    c -= 0.2 * static_cast<double>(a.fonts_without_unicode) / static_cast<double>(a.font_count);
  }
  if (mostly_invisible) c -= 0.1;
  a.confidence = std::clamp(c, 0.0, 1.0);
  return a;
}

}  // namespace velko
