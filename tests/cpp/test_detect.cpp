#include <gtest/gtest.h>

#include "detect.h"

using namespace velko;

namespace {

// A page of `glyphs` glyphs (the first `invisible` of them painted invisibly), lines with
// the given texts and unresolved counts, and fonts with or without a route to Unicode.
struct PageCase {
  std::size_t glyphs = 100;
  std::size_t invisible = 0;
  std::vector<std::pair<std::string, std::size_t>> lines;  // text, unresolved
  std::size_t fonts_with_unicode = 1;
  std::size_t fonts_without = 0;
};

Assessment run(const PageCase& c) {
  PageGlyphs pg;
  for (std::size_t i = 0; i < c.glyphs; ++i) {
    Glyph g;
    g.style.render_mode = i < c.invisible ? RenderMode::Invisible : RenderMode::Fill;
    pg.glyphs.push_back(g);
  }
  std::vector<TextLine> lines;
  for (const auto& [text, unresolved] : c.lines) {
    TextLine l;
    l.text = text;
    l.unresolved = unresolved;
    lines.push_back(l);
  }
  std::vector<RawFont> raw;
  for (std::size_t i = 0; i < c.fonts_with_unicode + c.fonts_without; ++i) {
    RawFont f;
    f.info.name = "F" + std::to_string(i);
    if (i < c.fonts_with_unicode) {
      const std::string cmap = "beginbfchar <01> <0627> endbfchar";
      f.to_unicode = Bytes(cmap.begin(), cmap.end());
    }
    raw.push_back(f);
  }
  return assess(3, pg, FontMap::from_raw(std::move(raw)), lines);
}

const std::string kClean = "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 hello";  // 10 characters

}  // namespace

TEST(Assess, Verdicts) {
  const std::string invisible_reason =
      "text is painted invisibly \xE2\x80\x94 this looks like an OCR layer over a scan";
  const std::string separator_reason =
      "digits are grouped with both `,` and `.` \xE2\x80\x94 some numbers may have the wrong "
      "separator, and so the wrong value";
  struct Case {
    const char* name;
    PageCase page;
    Verdict verdict;
    std::vector<std::string> reasons;
    double confidence;
  };
  const Case cases[] = {
      {"no glyphs", {0, 0, {{kClean, 0}}}, Verdict::NeedsOcr,
       {"no text layer: the page paints no glyphs at all"}, 0.0},
      {"clean page", {100, 0, {{kClean, 0}}}, Verdict::Ok, {}, 1.0},
      {"40% resolved", {100, 0, {{kClean, 60}}, 1, 1}, Verdict::NeedsOcr,
       {"only 40% of glyph codes could be resolved",
        "1 of 2 fonts have neither /ToUnicode nor a usable /Encoding"},
       0.0},
      {"12.5% resolved rounds to even", {8, 0, {{kClean, 7}}}, Verdict::NeedsOcr,
       {"only 12% of glyph codes could be resolved"}, 0.0},
      {"half resolved is only degraded", {100, 0, {{kClean, 50}}}, Verdict::Degraded,
       {"50 of 100 glyph codes unresolved"}, 0.5},
      {"99% resolved", {100, 0, {{kClean, 1}}}, Verdict::Degraded,
       {"1 of 100 glyph codes unresolved"}, 0.99},
      {"one font of four without unicode", {100, 0, {{kClean, 0}}, 3, 1}, Verdict::Degraded,
       {"1 of 4 fonts have neither /ToUnicode nor a usable /Encoding"}, 0.95},
      {"presentation forms", {100, 0, {{"\xEF\xBA\x8D\xEF\xBB\xBB" "abcdefgh", 0}}},
       Verdict::Degraded, {"2 presentation-form characters survived normalisation"}, 0.8},
      {"replacements and forms lower by at most 0.5",
       {100, 0, {{"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBA\x8D\xEF\xBA\x8D", 0}}}, Verdict::Degraded,
       {"2 presentation-form characters survived normalisation"}, 0.5},
      {"90% invisible", {100, 90, {{kClean, 0}}}, Verdict::Ok, {}, 1.0},
      {"91% invisible", {100, 91, {{kClean, 0}}}, Verdict::Degraded, {invisible_reason}, 0.9},
      {"all invisible", {100, 100, {{kClean, 0}}}, Verdict::Degraded, {invisible_reason}, 0.9},
      {"1,234.567", {100, 0, {{"total 1,234.567", 0}}}, Verdict::Degraded, {separator_reason},
       1.0},
      {"separators across line ends", {100, 0, {{"a 1,234", 0}, {".567", 0}}}, Verdict::Degraded,
       {separator_reason}, 1.0},
      {"1,234.5", {100, 0, {{"total 1,234.5", 0}}}, Verdict::Ok, {}, 1.0},
      {"1,2345", {100, 0, {{"total 1,2345.678", 0}}}, Verdict::Ok, {}, 1.0},
      {"arabic-indic digits never group", {100, 0, {{"\xD9\xA1,\xD9\xA2\xD9\xA3\xD9\xA4 1.234", 0}}},
       Verdict::Ok, {}, 1.0},
      {"one character of text", {100, 95, {{"x", 0}}}, Verdict::NeedsOcr,
       {invisible_reason, "glyphs were painted but produced almost no text"}, 0.0},
      {"no lines at all", {5, 0, {}}, Verdict::NeedsOcr,
       {"glyphs were painted but produced almost no text"}, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Assessment a = run(c.page);
    EXPECT_EQ(a.page, 3u);
    EXPECT_EQ(a.verdict, c.verdict);
    EXPECT_EQ(a.reasons, c.reasons);
    EXPECT_NEAR(a.confidence, c.confidence, 1e-12);
  }
}

TEST(Assess, Counts) {
  PageCase p{10, 2, {{"\xEF\xBA\x8D" "a\xEF\xBF\xBD", 1}, {"bc", 0}}, 2, 1};
  Assessment a = run(p);
  EXPECT_EQ(a.glyph_count, 10u);
  EXPECT_EQ(a.invisible_count, 2u);
  EXPECT_EQ(a.unresolved_count, 1u);
  EXPECT_EQ(a.font_count, 3u);
  EXPECT_EQ(a.fonts_without_unicode, 1u);
  EXPECT_EQ(a.char_count, 5u);
  EXPECT_EQ(a.presentation_form_count, 1u);
  EXPECT_EQ(a.replacement_count, 1u);
  EXPECT_FALSE(a.mixed_separators);
}

TEST(Assess, FontWithEncodingOrDifferencesHasARoute) {
  std::vector<RawFont> raw(3);
  raw[0].info.name = "A";
  raw[0].base_encoding = "WinAnsiEncoding";
  raw[1].info.name = "B";
  raw[1].differences = {{65, "alefarabic"}};
  raw[2].info.name = "C";
  raw[2].base_encoding = "NoSuchEncoding";  // unknown names are no base encoding
  PageGlyphs pg;
  pg.glyphs.resize(3);
  TextLine l;
  l.text = "abc";
  Assessment a = assess(1, pg, FontMap::from_raw(std::move(raw)), {l});
  EXPECT_EQ(a.fonts_without_unicode, 1u);
}

TEST(Assess, VerdictText) {
  EXPECT_EQ(verdict_text(Verdict::Ok), "ok");
  EXPECT_EQ(verdict_text(Verdict::Degraded), "degraded");
  EXPECT_EQ(verdict_text(Verdict::NeedsOcr), "needs_ocr");
}
