#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "arabic.h"
#include "glyph_fixtures.h"

using namespace velko;
using namespace velko::arabic;
using namespace velko::test;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const FontMap& fonts() {
  static const FontMap f = test_fonts();
  return f;
}

std::vector<Placed> placed(const std::vector<G>& glyphs) {
  return apply_actual_text(page_of(glyphs));
}

std::optional<TextLine> line_of(const std::vector<G>& glyphs) {
  const std::vector<Placed> p = placed(glyphs);
  return build_line(p, fonts());
}

std::vector<G> cat(std::vector<G> a, const std::vector<G>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Sets or clears VELKO_DBG for one scope.
class DebugEnv {
 public:
  explicit DebugEnv(bool on) {
    if (on) {
      setenv("VELKO_DBG", "", 1);
    } else {
      unsetenv("VELKO_DBG");
    }
  }
  ~DebugEnv() { unsetenv("VELKO_DBG"); }
};

}  // namespace

// ---- apply_actual_text ------------------------------------------------------------------

TEST(ApplyActualText, FramesAndSpans) {
  PageGlyphs page = page_of({{kBeh, 1, 5, 2, 10, 0},
                             {kBeh, 1, 5, 2, 10, 1},
                             {kBeh, 1, 5, 2, 10, 2},
                             {kBeh, 1, 5, 2, 10, 3},
                             {kBeh}, {kBeh}, {kBeh}});
  page.actual_texts = {{"x", 3, 6}, {"late", 9, 12}, {"empty", 2, 2}};
  const auto p = apply_actual_text(page);
  ASSERT_EQ(p.size(), 7u);
  const double uv[4][2] = {{1, 2}, {2, 1}, {-1, 2}, {-2, 1}};
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(p[r].u, uv[r][0]) << r;
    EXPECT_EQ(p[r].v, uv[r][1]) << r;
    EXPECT_FALSE(p[r].anchored);
  }
  EXPECT_FALSE(p[2].actual_text.has_value());
  EXPECT_EQ(p[3].actual_text, "x");
  EXPECT_EQ(p[4].actual_text, "");
  EXPECT_EQ(p[5].actual_text, "");
  EXPECT_FALSE(p[6].actual_text.has_value());
}

TEST(ApplyActualText, LaterSpanWinsAndEndIsClipped) {
  PageGlyphs page = page_of(run({kBeh, kBeh, kBeh, kBeh}, 0));
  page.actual_texts = {{"first", 0, 3}, {"second", 1, 100}};
  const auto p = apply_actual_text(page);
  EXPECT_EQ(p[0].actual_text, "first");
  EXPECT_EQ(p[1].actual_text, "second");
  EXPECT_EQ(p[2].actual_text, "");
  EXPECT_EQ(p[3].actual_text, "");
}

TEST(ApplyActualText, CarriedByTheFirstWideGlyph) {
  // A cluster written mark first: the span's text goes with the letter, not the mark.
  PageGlyphs page = page_of({{kFatha, 4.8, 0}, {kBeh, 5, 5}, {kFatha, 20, 0}});
  page.actual_texts = {{"\u0628\u064E", 0, 2}, {"\u064E", 2, 3}};
  const auto p = apply_actual_text(page);
  EXPECT_EQ(p[0].actual_text, "");
  EXPECT_EQ(p[1].actual_text, "\u0628\u064E");
  EXPECT_EQ(p[2].actual_text, "\u064E");  // no wide glyph: the first one carries it
}

// ---- anchor_zero_advance ----------------------------------------------------------------

TEST(AnchorZeroAdvance, Cases) {
  struct Case {
    const char* name;
    std::vector<G> glyphs;
    std::size_t probe;
    bool anchored;
    double u;
  };
  const Case cases[] = {
      // a zero-advance letter inside the advance of the wide letter two glyphs before it
      {"host two back", {{kBeh, 0, 5}, {kTeh, 5, 5}, {kAlef, 2, 0}}, 2, true, 0},
      {"fatha stays", {{kBeh, 0, 5}, {kTeh, 5, 5}, {kFatha, 2, 0}}, 2, false, 2},
      {"isolated fatha form stays", {{kBeh, 0, 5}, {kFathaIsolated, 2, 0}}, 1, false, 2},
      {"strict at origin", {{kBeh, 0, 5}, {kTeh, 10, 5}, {kAlef, 0, 0}}, 2, false, 0},
      // a zero-advance letter at the origin of the glyph written just before it (a ligature
      // split in reading order) goes just left of it, so that it reads after it
      {"letter at its predecessor's origin", {{kTeh, 10, 5}, {kAlef, 10, 0}}, 1, true,
       std::nextafter(10.0, 0.0)},
      {"strict at end", {{kBeh, 0, 5}, {kAlef, 5, 0}}, 1, false, 5},
      {"host after", {{kAlef, 7, 0}, {kBeh, 5, 5}}, 0, true, 5},
      {"too far across", {{kBeh, 0, 5, 100}, {kAlef, 2, 0, 111}}, 1, false, 2},
      {"within one size across", {{kBeh, 0, 5, 100}, {kAlef, 2, 0, 110}}, 1, true, 0},
      {"unresolved zero-advance is anchored", {{kBeh, 0, 5}, {kUnmapped, 2, 0}}, 1, true, 0},
      {"zero-advance host refused", {{kBeh, 0, 0.4}, {kAlef, 0.2, 0}}, 1, false, 0.2},
      // Arabic marks written in visual order just before their base (HarfBuzz-shaped
      // producers) join that base, at its centre.
      {"mark before its base joins it", {{kTeh, 0, 5}, {kFatha, 2, 0}, {kBeh, 5, 5}}, 1, true,
       7.5},
      {"stacked marks before the base", {{kTeh, 0, 5}, {kShadda, 4, 0}, {kFatha, 4.5, 0},
       {kBeh, 5, 5}}, 1, true, 7.5},
      {"more than 0.3 em before the next letter", {{kTeh, 0, 5}, {kFatha, 1.9, 0},
       {kBeh, 5, 5}}, 1, false, 1.9},
      {"mark after its base, next letter to the left", {{kBeh, 10, 5}, {kFatha, 12, 0},
       {kTeh, 4, 5}}, 1, false, 12},
      {"reading-order stream: the next letter lies to the left", {{kTeh, 10, 5},
       {kFatha, 9, 0}, {kBeh, 4, 5.7}}, 1, false, 9},
      {"reading-order stream: a mark a rounding error before its letter's origin",
       {{kTeh, 10, 5}, {kFatha, 9.97, 0, 104}, {kBeh, 4, 5.7}}, 1, false, 10},
      {"latin accent keeps its place", {{kLatinA, 0, 5}, {kAcute, 4, 0}, {kLatinB, 5, 5}}, 1,
       false, 4},
      {"next letter on another baseline", {{kTeh, 0, 5}, {kFatha, 4, 0}, {kBeh, 5, 5, 120}},
       1, false, 4},
  };
  for (const Case& c : cases) {
    auto p = placed(c.glyphs);
    anchor_zero_advance(p, fonts());
    EXPECT_EQ(p[c.probe].anchored, c.anchored) << c.name;
    EXPECT_EQ(p[c.probe].u, c.u) << c.name;
  }
}

TEST(AnchorZeroAdvance, WindowIsEightBackAndEightAhead) {
  for (std::size_t distance : {8u, 9u, 10u}) {
    std::vector<G> g = {{kBeh, 0, 5}};
    for (std::size_t k = 1; k < distance; ++k) g.push_back(G{kTeh, 100.0 + 10 * k, 5});
    g.push_back(G{kAlef, 2, 0});
    auto p = placed(g);
    anchor_zero_advance(p, fonts());
    EXPECT_EQ(p.back().anchored, distance <= 8) << distance;
  }
}

TEST(AnchorZeroAdvance, ActualTextDecidesMarkness) {
  PageGlyphs page = page_of({{kBeh, 0, 5}, {kAlef, 2, 0}});
  page.actual_texts = {{"\u064E", 1, 2}};
  auto p = apply_actual_text(page);
  anchor_zero_advance(p, fonts());
  EXPECT_FALSE(p[1].anchored);
}

// ---- group_into_lines -------------------------------------------------------------------

namespace {
std::vector<std::vector<double>> xs_of(const std::vector<std::vector<Placed>>& lines) {
  std::vector<std::vector<double>> out;
  for (const auto& l : lines) {
    out.emplace_back();
    for (const Placed& p : l) out.back().push_back(p.glyph.x);
  }
  return out;
}
}  // namespace

TEST(GroupIntoLines, Cases) {
  struct Case {
    const char* name;
    std::vector<G> glyphs;
    std::vector<std::vector<double>> xs;
  };
  const Case cases[] = {
      {"empty", {}, {}},
      {"3.0 apart at size 12 is one line", {{kBeh, 1, 5, 100, 12}, {kBeh, 2, 5, 97, 12}}, {{1, 2}}},
      {"4.0 apart at size 12 is two", {{kBeh, 1, 5, 100, 12}, {kBeh, 2, 5, 96, 12}}, {{1}, {2}}},
      {"size 1 threshold is 0.5", {{kBeh, 1, 5, 100, 1}, {kBeh, 2, 5, 99.6, 1}}, {{1, 2}}},
      {"size 1 beyond 0.5", {{kBeh, 1, 5, 100, 1}, {kBeh, 2, 5, 99.4, 1}}, {{1}, {2}}},
      {"top first, left to right", {{kBeh, 9, 5, 50}, {kBeh, 3, 5, 100}, {kBeh, 1, 5, 100}},
       {{1, 3}, {9}}},
      {"a baseline stepping down in small stages is one line",
       {{kBeh, 1, 5, 100, 10}, {kBeh, 2, 5, 97.5, 10}, {kBeh, 3, 5, 95.5, 10}},
       {{1, 2, 3}}},
      {"a line is at most one em tall",
       {{kBeh, 1, 5, 100}, {kBeh, 2, 5, 97.5}, {kBeh, 3, 5, 95}, {kBeh, 4, 5, 92.5},
        {kBeh, 5, 5, 90}, {kBeh, 6, 5, 88}, {kBeh, 7, 5, 86}},
       {{1, 2, 3, 4, 5}, {6, 7}}},
      {"a step beyond the tolerance splits", {{kBeh, 1, 5, 100}, {kBeh, 2, 5, 97.5},
       {kBeh, 3, 5, 94}}, {{1, 2}, {3}}},
      {"rotation splits", {{kBeh, 1, 5, 100}, {kBeh, 100, 5, 2, 10, 1}, {kBeh, 3, 5, 100}},
       // the rotated glyph has v = x = 100 as well and sorts by u = y = 2 between them
       {{1}, {100}, {3}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(xs_of(group_into_lines(placed(c.glyphs))), c.xs) << c.name;
  }
}

TEST(GroupIntoLines, EqualPositionsKeepEmissionOrder) {
  const auto lines = group_into_lines(placed({{kBeh, 1}, {kTeh, 1}, {kKaf, 1}}));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0][0].glyph.code, kBeh);
  EXPECT_EQ(lines[0][1].glyph.code, kTeh);
  EXPECT_EQ(lines[0][2].glyph.code, kKaf);
}

TEST(GroupIntoLines, BadCoordinatesKeepEveryGlyph) {
  std::vector<G> g;
  const double values[] = {kNaN, -kNaN, kInf, -kInf, 0, -0.0, 1e308};
  for (double a : values) {
    for (double b : values) g.push_back(G{kBeh, a, 5, b, 10});
  }
  g.push_back(G{kBeh, 1, 5, 1, kNaN});
  g.push_back(G{kBeh, 1, 5, 1, 0});
  const auto lines = group_into_lines(placed(g));
  std::size_t total = 0;
  for (const auto& l : lines) total += l.size();
  EXPECT_EQ(total, g.size());
}

// ---- median_text_size, is_mark_glyph ----------------------------------------------------

TEST(MedianTextSize, Cases) {
  EXPECT_EQ(median_text_size({}), 10.0);
  std::vector<G> g;
  for (double s : {14.0, 8.0, 12.0, 10.0}) g.push_back(G{kBeh, 0, 5, 100, s});
  EXPECT_EQ(median_text_size(placed(g)), 12.0);
}

TEST(IsMarkGlyph, Cases) {
  struct Case {
    const char* text;
    bool mark;
  };
  const Case cases[] = {
      {"", false},
      {"\u064E", true},
      {"\uFE76", true},  // isolated fatha form: NFKC gives a space and the mark
      {" ", false},
      {"\u064E ", false},
      {"\u0627", false},
      {"  \u064E\u0651", true},
      {"\u064E\u0627", false},
      {"\u0301", true},
      {"\u00B4", true},  // spacing acute: NFKC gives a space and U+0301
      {"\u0670", true},
      {"\u06ED", true},
      {"\u06EE", false},
      {"\u08D3", true},
      {"a", false},
      {"\xFF", false},  // ill-formed
  };
  for (const Case& c : cases) EXPECT_EQ(is_mark_glyph(c.text), c.mark) << c.text;
}

// ---- build_line: text -------------------------------------------------------------------

TEST(BuildLine, Text) {
  struct Case {
    const char* name;
    std::vector<G> glyphs;
    const char* text;  // nullptr: no line
  };
  const Case cases[] = {
      {"painted left to right, read right to left", run({kBeh, kTeh, kKaf}, 0),
       "\u0643\u062A\u0628"},
      {"gap 2 at size 10 is a space", {{kBeh, 0, 5}, {kTeh, 7, 5}}, "\u062A \u0628"},
      {"gap 1.4 is not", {{kBeh, 0, 5}, {kTeh, 6.4, 5}}, "\u062A\u0628"},
      {"painted spaces raise the threshold",
       {{kBeh, 0, 5}, {kSpace, 5, 2.5}, {kTeh, 7.5, 5}, {kKaf, 14.5, 5}},
       "\u0643\u062A \u0628"},
      {"painted spaces, gap above 2.5",
       {{kBeh, 0, 5}, {kSpace, 5, 2.5}, {kTeh, 7.5, 5}, {kKaf, 15.1, 5}},
       "\u0643 \u062A \u0628"},
      {"no second space after a painted one",
       {{kBeh, 0, 5}, {kSpace, 5, 2}, {kTeh, 20, 5}}, "\u062A \u0628"},
      {"latin stays left to right", run({kLatinA, kLatinB}, 0), "ab"},
      {"mixed line", cat(run({kLatinA, kLatinB}, 0), run({kBeh, kTeh}, 12)),
       "\u062A\u0628 ab"},
      // marks
      {"fatha right of its letter", {{kTeh, 0, 5}, {kBeh, 5, 5}, {kFatha, 7, 0}},
       "\u0628\u064E\u062A"},
      {"fatha over the left letter", {{kTeh, 0, 5}, {kFatha, 2, 0}, {kBeh, 5, 5}},
       "\u0628\u062A\u064E"},
      {"fatha first in the line", {{kFatha, -1, 0}, {kBeh, 0, 5}}, "\u0628\u064E"},
      {"two marks on one letter", {{kBeh, 0, 5}, {kShadda, 2, 0}, {kFatha, 3, 0}},
       "\u0628\u064E\u0651"},  // NFKC puts fatha (class 30) before shadda (33)
      {"mark in a left-to-right line is appended", {{kLatinA, 0, 5}, {kAcute, 3, 0}, {kLatinB, 5, 5}},
       "\u00E1b"},
      {"isolated fatha form", {{kBeh, 0, 5}, {kFathaIsolated, 2, 0}}, "\u0628\u064E"},
      {"mark past a space joins the letter after it", {{kBeh, 0, 5}, {kTeh, 10, 5}, {kFatha, 12, 0}},
       "\u062A\u064E \u0628"},
      // a wide mark glyph right after an inferred space has no letter to go with
      {"wide mark after a space is appended", {{kBeh, 0, 5}, {kFatha, 10, 5}},
       "\u064E \u0628"},
      // hamza
      {"hamza merges into alef", {{kAlefHamzaAbove, 0, 0}, {kAlef, 0, 5}, {kBeh, 5, 5}},
       "\u0628\u0623"},
      {"duplicate precomposed letter", {{kAlefHamzaAbove, 0, 0}, {kAlefHamzaAbove, 0, 5}, {kBeh, 5, 5}},
       "\u0628\u0623"},
      {"two alefs: no merge", {{kAlefHamzaAbove, 0, 0}, {kTwoAlefs, 0, 5}, {kBeh, 5, 5}},
       "\u0628\u0627\u0627\u0623"},
      {"wide hamza letter sets nothing pending", {{kAlefHamzaAbove, 0, 5}, {kAlef, 5, 5}},
       "\u0627\u0623"},
      {"pending survives a ghost",
       {{kAlefHamzaAbove, 0, 0}, {kEmpty, 0, 0}, {kAlef, 0, 5}}, "\u0623"},
      {"hamza below", {{kAlefHamzaBelow, 0, 0}, {kAlef, 0, 5}}, "\u0625"},
      // ligatures
      {"ligature text in logical order", cat(run({kBeh}, 0), run({kLamAlef}, 5)),
       "\u0644\u0627\u0628"},
      {"lam-alef presentation form", cat(run({kBeh}, 0), run({kLamAlefForm}, 5)),
       "\u0644\u0627\u0628"},
      // digits
      {"arabic-indic majority", run({kOneAI, kTwoAI, kDigit3}, 0), "\u0661\u0662\u0663"},
      {"tie goes to ascii", run({kDigit1, kDigit2, kThreeAI, kFourAI}, 0), "1234"},
      {"digits keep order in arabic", cat(run({kDigit1, kDigit2}, 0), run({kBeh, kTeh}, 12)),
       "\u062A\u0628 12"},
      // tatweel
      {"inner tatweel dropped", run({kTeh, kTatweel, kTatweel, kTatweel, kKaf}, 0),
       "\u0643\u062A"},
      {"tatweel alone", run({kTatweel}, 0), "\u0640"},
      {"tatweel at the end", run({kTatweel, kBeh}, 0), "\u0628\u0640"},
      {"tatweel at the start", run({kBeh, kTatweel}, 0), "\u0640\u0628"},
      {"tatweel before latin", run({kLatinA, kTatweel, kBeh}, 0), "\u0628\u0640a"},
      {"tatweel before a mark", run({kFatha, kTatweel, kBeh}, 0), "\u0628\u064E"},
      // ghosts and failures
      {"explicit replacement is dropped", run({kBeh, kReplacement, kTeh}, 0), "\u062A\u0628"},
      {"unresolved shows", run({kBeh, kUnmapped, kTeh}, 0), "\u062A\uFFFD\u0628"},
      {"only ghosts", run({kEmpty, kEmpty}, 0), nullptr},
      {"only spaces", run({kSpace, kSpace}, 0), nullptr},
      {"empty", {}, nullptr},
  };
  for (const Case& c : cases) {
    const auto line = line_of(c.glyphs);
    if (!c.text) {
      EXPECT_FALSE(line.has_value()) << c.name;
      continue;
    }
    ASSERT_TRUE(line.has_value()) << c.name;
    EXPECT_EQ(line->text, c.text) << c.name;
  }
}

TEST(BuildLine, ActualText) {
  struct Case {
    const char* name;
    std::vector<ActualText> spans;
    const char* text;
  };
  const Case cases[] = {
      // the span's text is in logical order and comes out so
      {"span over the line", {{"\u0643\u062A\u0628", 0, 3}}, "\u0643\u062A\u0628"},
      {"span over two", {{"\u0645", 1, 3}}, "\u0645\u0628"},
      {"only the silent glyphs", {{"x", 0, 1}, {"", 1, 3}}, "x"},
  };
  for (const Case& c : cases) {
    PageGlyphs page = page_of(run({kBeh, kTeh, kKaf}, 0));
    page.actual_texts = c.spans;
    const auto p = apply_actual_text(page);
    const auto line = build_line(p, fonts());
    ASSERT_TRUE(line) << c.name;
    EXPECT_EQ(line->text, c.text) << c.name;
  }
  // A line made only of the trailing glyphs of a span gives nothing.
  PageGlyphs page = page_of(run({kBeh, kTeh, kKaf}, 0));
  page.actual_texts = {{"\u0643\u062A\u0628", 0, 3}};
  const auto p = apply_actual_text(page);
  EXPECT_FALSE(build_line(std::span(p).subspan(1), fonts()).has_value());
}

TEST(BuildLine, Fields) {
  const auto line = line_of({{kBeh, 10, 5, 100}, {kUnmapped, 15, 5, 100}, {kTeh, 20, 5, 100.5}});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->unresolved, 1u);
  EXPECT_EQ(line->glyphs, 3u);
  EXPECT_TRUE(line->rtl);
  EXPECT_EQ(line->baseline, 100);
  EXPECT_EQ(line->bbox, (Rect{10, 97.5, 25, 108}));

  const auto latin = line_of(run({kLatinA}, 0));
  ASSERT_TRUE(latin);
  EXPECT_FALSE(latin->rtl);
}

TEST(BuildLine, BboxByRotation) {
  struct Case {
    std::uint8_t rotation;
    Rect bbox;
  };
  // origin (10, 100), advance 5, size 10
  const Case cases[] = {
      {0, {10, 97.5, 15, 107.5}},
      {1, {10, 97.5, 10, 107.5}},
      {2, {5, 97.5, 10, 107.5}},
      {3, {10, 95, 10, 107.5}},
  };
  for (const Case& c : cases) {
    const auto line = line_of({{kBeh, 10, 5, 100, 10, c.rotation}});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->bbox, c.bbox) << int(c.rotation);
  }
}

TEST(BuildLine, DominantStyle) {
  struct Case {
    const char* name;
    std::vector<G> glyphs;
    std::size_t expected;  // index of the glyph whose style wins
  };
  const Case cases[] = {
      {"majority font", {{kBeh, 0, 5, 100, 10, 0, "F1"}, {kBeh, 5, 5, 100, 12, 0, "F2"},
                         {kBeh, 10, 5, 100, 12, 0, "F2"}}, 1},
      {"tie goes to the first", {{kBeh, 0, 5, 100, 10, 0, "F1"}, {kBeh, 5, 5, 100, 12, 0, "F2"}}, 0},
      {"sizes within 0.01 merge", {{kBeh, 0, 5, 100, 12.0}, {kBeh, 5, 5, 100, 11.0},
                                   {kBeh, 10, 5, 100, 11.0}, {kBeh, 15, 5, 100, 12.004},
                                   {kBeh, 20, 5, 100, 12.008}}, 0},
      {"sizes 0.02 apart do not", {{kBeh, 0, 5, 100, 12.0}, {kBeh, 5, 5, 100, 12.02},
                                   {kBeh, 10, 5, 100, 12.04}, {kBeh, 15, 5, 100, 11.0},
                                   {kBeh, 20, 5, 100, 11.0}}, 3},
      // the middle size merges with both neighbours, they only with it
      {"chain", {{kBeh, 0, 5, 100, 12.0}, {kBeh, 5, 5, 100, 12.006}, {kBeh, 10, 5, 100, 12.012}}, 1},
      {"nan sizes merge with nothing", {{kBeh, 0, 5, 100, kNaN}, {kBeh, 5, 5, 100, kNaN},
                                        {kBeh, 10, 5, 100, 9}}, 2},
  };
  for (const Case& c : cases) {
    const auto p = placed(c.glyphs);
    const auto line = build_line(p, fonts());
    ASSERT_TRUE(line) << c.name;
    const Style& want = p[c.expected].glyph.style;
    EXPECT_EQ(line->style.font, want.font) << c.name;
    if (std::isnan(want.size)) {
      EXPECT_TRUE(std::isnan(line->style.size)) << c.name;
    } else {
      EXPECT_EQ(line->style.size, want.size) << c.name;
    }
  }
  // Colour takes part: black Gray and black Rgb are different colours.
  auto p = placed({{kBeh, 0}, {kBeh, 5}, {kBeh, 10}});
  p[0].glyph.style.color = Gray{0};
  p[1].glyph.style.color = Rgb{0, 0, 0};
  p[2].glyph.style.color = Rgb{-0.0f, 0, 0};
  const auto line = build_line(p, fonts());
  ASSERT_TRUE(line);
  EXPECT_TRUE(line->style.color == Color(Rgb{0, 0, 0}));
}

// ---- build_line: diagnostics ------------------------------------------------------------

TEST(BuildLine, Diagnostics) {
  const std::vector<G> merge = {{kAlefHamzaAbove, 0, 0}, {kAlef, 0, 5}};
  const std::vector<G> doubled = run({kAlefHamzaBelow, kAlefHamzaBelow}, 0);
  {
    DebugEnv env(false);
    testing::internal::CaptureStderr();
    line_of(merge);
    line_of(doubled);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
  {
    DebugEnv env(true);
    testing::internal::CaptureStderr();
    line_of(merge);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MERGE slot=0 at_slot=Some(\"\u0623\") host=\"\u0627\" -> \"\u0623\" len=1\n");
    testing::internal::CaptureStderr();
    line_of(doubled);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "PIECES: [\"\u0625\", \"\u0625\"]\n");
    testing::internal::CaptureStderr();
    line_of(run({kBeh, kTeh}, 0));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  }
}

TEST(BuildLine, DiagnosticQuotingEscapes) {
  DebugEnv env(true);
  PageGlyphs page = page_of({{kAlefHamzaAbove, 0, 0}, {kAlef, 0, 5}});
  page.actual_texts = {{"\"\\\n\u0627", 1, 2}};
  const auto p = apply_actual_text(page);
  testing::internal::CaptureStderr();
  build_line(p, fonts());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "MERGE slot=0 at_slot=Some(\"\u0623\") host=\"\\\"\\\\\\n\u0627\" -> "
            "\"\\\"\\\\\\n\u0623\" len=1\n");
}

// ---- build_line: bad input and scale ----------------------------------------------------

TEST(BuildLine, BadInputNeverFails) {
  const std::vector<std::vector<G>> lines = {
      {{kBeh, kNaN, 5}, {kTeh, 5, 5}, {kKaf, 12, 5}},
      {{kBeh, 0, kNaN}, {kTeh, 5, 5}},
      {{kBeh, kInf, 5}, {kTeh, -kInf, 5}, {kKaf, 0, kInf}},
      {{kBeh, 0, 5, kNaN}, {kTeh, 5, 5, kInf}},
      {{kBeh, 0, 5, 100, 0}, {kTeh, 5, 5, 100, 0}, {kFatha, 6, 0, 100, 0}},
      {{kBeh, 0, 5, 100, kNaN}, {kAlefHamzaAbove, 5, 0, 100, kNaN}, {kAlef, 5, 5, 100, kNaN}},
      {{kBeh, 0, 5, 100, -10}},
  };
  for (const auto& g : lines) {
    const auto line = line_of(g);
    ASSERT_TRUE(line);
    EXPECT_FALSE(line->text.empty());
    EXPECT_EQ(line->glyphs, g.size());
  }
  // A NaN glyph first in the line does not stop spaces from being found after it.
  const auto line = line_of({{kBeh, kNaN, 5}, {kTeh, 0, 5}, {kKaf, 10, 5}});
  ASSERT_TRUE(line);
  EXPECT_NE(line->text.find(' '), std::string::npos);
  // All coordinates NaN: an empty box, not one spanning infinity.
  const auto nan_line = line_of({{kBeh, kNaN, 5, kNaN}});
  ASSERT_TRUE(nan_line);
  EXPECT_EQ(nan_line->bbox, Rect{});
}

TEST(BuildLine, LongLinesStayLinear) {
  struct Case {
    const char* name;
    std::vector<G> glyphs;
    std::u32string text;
  };
  std::vector<G> letters, marked, one_base, zero_width;
  std::u32string letters_text, marked_text, one_base_text = U"\u0628", zero_width_text;
  for (int i = 0; i < 40000; ++i) {
    letters.push_back(G{i % 7 == 6 ? kSpace : kBeh, i * 5.0, 5});
    if (i % 7 == 6) {
      letters_text += U' ';
    } else {
      letters_text += U'\u0628';
    }
  }
  for (int i = 0; i < 20000; ++i) {
    marked.push_back(G{i % 2 ? kBeh : kTeh, i * 5.0, 5});
    marked.push_back(G{i % 3 ? kFatha : kShadda, i * 5.0 + 2, 0});
    // logical order reads from the right: letter, then its mark
    marked_text = std::u32string(i % 2 ? U"\u0628" : U"\u062A") +
                  (i % 3 ? U"\u064E" : U"\u0651") + marked_text;
  }
  // read from the right: the visual string reversed
  letters_text = std::u32string(letters_text.rbegin(), letters_text.rend());
  one_base.push_back(G{kBeh, 0, 5});
  for (int i = 0; i < 30000; ++i) {
    one_base.push_back(G{kFatha, 1 + i * 1e-4, 0});
    one_base_text += U'\u064E';
  }
  for (int i = 0; i < 30000; ++i) {
    zero_width.push_back(G{kAlefHamzaAbove, 0, 0});
    zero_width_text += U'\u0623';  // the last one merges with the alef
  }
  zero_width.push_back(G{kAlef, 0, 5});
  const Case cases[] = {
      {"letters and painted spaces", letters, letters_text},
      {"letters with marks", marked, marked_text},
      {"one letter, many marks", one_base, one_base_text},
      {"many zero-width letters", zero_width, zero_width_text},
  };
  for (const Case& c : cases) {
    const auto t0 = std::chrono::steady_clock::now();
    const auto line = line_of(c.glyphs);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - t0).count();
    ASSERT_TRUE(line) << c.name;
    EXPECT_TRUE(utf8_to_u32(line->text) == c.text) << c.name;
    EXPECT_LT(ms, 3000) << c.name;
  }
}

// ---- regions ----------------------------------------------------------------------------

namespace {

// A column of `lines` lines of alternating beh/teh from x0 to x0 + width.
std::vector<G> column(double x0, double width, double top, int lines, std::uint32_t first = kBeh) {
  std::vector<G> out;
  for (int l = 0; l < lines; ++l) {
    for (double x = x0; x + 5 <= x0 + width; x += 5) {
      out.push_back(G{(static_cast<int>(x / 5) % 2) ? kTeh : first, x, 5, top - 12.0 * l});
    }
  }
  return out;
}

}  // namespace

TEST(ReconstructRegions, EmptyAndFigures) {
  EXPECT_TRUE(reconstruct_regions(PageGlyphs{}, fonts(), {}).empty());
  // Two boxes are too few to be cut: one region holds both.
  const std::vector<Rect> two = {{0, 500, 100, 600}, {0, 100, 100, 200}};
  auto regions = reconstruct_regions(PageGlyphs{}, fonts(), two);
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].figures, (std::vector<std::size_t>{0, 1}));
  EXPECT_TRUE(regions[0].lines.empty());
  EXPECT_EQ(regions[0].bbox, (Rect{0, 100, 100, 600}));
  // Four boxes in two bands: one region per band, the upper first.
  const std::vector<Rect> four = {
      {0, 100, 100, 200}, {0, 500, 100, 600}, {0, 150, 100, 250}, {0, 450, 100, 560}};
  regions = reconstruct_regions(PageGlyphs{}, fonts(), four);
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[0].figures, (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(regions[1].figures, (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(regions[1].bbox, (Rect{0, 100, 100, 250}));
}

TEST(ReconstructRegions, ColumnOrderFollowsDirection) {
  struct Case {
    const char* name;
    std::uint32_t letter;  // what the left column starts with
    std::uint32_t right;   // what the right column is made of
    bool right_first;
  };
  const Case cases[] = {
      {"arabic page: right column first", kBeh, kBeh, true},
      {"latin page: left column first", kLatinA, kLatinA, false},
  };
  for (const Case& c : cases) {
    std::vector<G> g;
    for (const G& x : run(std::vector<std::uint32_t>(20, c.letter), 0, 100)) g.push_back(x);
    for (const G& x : run(std::vector<std::uint32_t>(20, c.letter), 0, 88)) g.push_back(x);
    for (const G& x : run(std::vector<std::uint32_t>(20, c.right == kBeh ? kTeh : kLatinB), 120, 100))
      g.push_back(x);
    for (const G& x : run(std::vector<std::uint32_t>(20, c.right == kBeh ? kTeh : kLatinB), 120, 88))
      g.push_back(x);
    const auto regions = reconstruct_regions(page_of(g), fonts(), {});
    ASSERT_EQ(regions.size(), 2u) << c.name;
    const bool first_is_right = regions[0].bbox.x0 >= 120;
    EXPECT_EQ(first_is_right, c.right_first) << c.name;
    EXPECT_EQ(regions[0].lines.size(), 2u);
    EXPECT_EQ(regions[0].bbox, (Rect{first_is_right ? 120.0 : 0.0, 85.5,
                                     first_is_right ? 220.0 : 100.0, 107.5}))
        << c.name;
  }
}

TEST(ReconstructRegions, FigureBetweenParagraphs) {
  std::vector<G> g = column(0, 100, 700, 2);
  const std::vector<G> lower = column(0, 100, 300, 2);
  g.insert(g.end(), lower.begin(), lower.end());
  const std::vector<Rect> figs = {{0, 450, 100, 550}};
  const auto regions = reconstruct_regions(page_of(g), fonts(), figs);
  ASSERT_EQ(regions.size(), 3u);
  EXPECT_EQ(regions[0].lines.size(), 2u);
  EXPECT_TRUE(regions[1].lines.empty());
  EXPECT_EQ(regions[1].figures, std::vector<std::size_t>{0});
  EXPECT_EQ(regions[2].lines.size(), 2u);
}

TEST(ReconstructRegions, SilentGroupYieldsNoRegion) {
  // A paragraph whose glyphs are the silent tail of an ActualText span, far below the text.
  std::vector<G> g = column(0, 100, 700, 2);
  const std::size_t first_silent = g.size();
  const std::vector<G> tail = run({kBeh, kBeh, kBeh, kBeh, kBeh}, 0, 100);
  g.insert(g.end(), tail.begin(), tail.end());
  PageGlyphs page = page_of(g);
  page.actual_texts = {{"\u0628", first_silent - 1, g.size()}};
  const auto regions = reconstruct_regions(page, fonts(), {});
  ASSERT_EQ(regions.size(), 1u);
}

TEST(ReconstructRegions, ZeroWidthFloodAndBadCoordinates) {
  std::vector<G> g = column(0, 200, 700, 10);
  for (int i = 0; i < 20000; ++i) g.push_back(G{kFatha, (i % 200) * 1.0, 0, 700.0 - (i % 10) * 12});
  for (int i = 0; i < 5000; ++i) g.push_back(G{kAlefHamzaAbove, (i % 200) * 1.0 + 0.5, 0, 688});
  for (double bad : {kNaN, kInf, -kInf}) {
    g.push_back(G{kBeh, bad, 5, 400});
    g.push_back(G{kBeh, 10, bad, 400});
    g.push_back(G{kBeh, 10, 5, bad});
    g.push_back(G{kBeh, 10, 5, 400, bad});
    g.push_back(G{kBeh, 10, 5, 400, 0});
  }
  const auto t0 = std::chrono::steady_clock::now();
  const std::vector<Rect> figs = {{kNaN, 0, 10, kInf}};
  const auto regions = reconstruct_regions(page_of(g), fonts(), figs);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0).count();
  EXPECT_FALSE(regions.empty());
  EXPECT_LT(ms, 5000);
}

TEST(RegionBbox, Cases) {
  TextLine a;
  a.bbox = {10, 10, 20, 20};
  TextLine b;
  b.bbox = {kNaN, 5, 30, kNaN};
  const std::vector<Rect> figs = {{40, 0, 50, 8}, {100, 100, 90, 90}};
  EXPECT_FALSE(region_bbox({}, {}, figs).has_value());
  EXPECT_EQ(region_bbox(std::vector<TextLine>{a}, {}, figs), (Rect{10, 10, 20, 20}));
  EXPECT_EQ(region_bbox(std::vector<TextLine>{a, b}, {}, figs), (Rect{10, 5, 30, 20}));
  EXPECT_EQ(region_bbox(std::vector<TextLine>{a}, std::vector<std::size_t>{0, 7}, figs),
            (Rect{10, 0, 50, 20}));
  // an inverted box is put in order
  EXPECT_EQ(region_bbox({}, std::vector<std::size_t>{1}, figs), (Rect{90, 90, 100, 100}));
  EXPECT_FALSE(region_bbox({}, std::vector<std::size_t>{5}, figs).has_value());
}

TEST(TextWithin, Cases) {
  // Two lines of Arabic and one glyph further right.
  std::vector<G> g = run({kBeh, kTeh}, 0, 100);
  const std::vector<G> second = run({kKaf, kMeem}, 0, 80);
  g.insert(g.end(), second.begin(), second.end());
  g.push_back(G{kNoon, 50, 5, 100});  // centre at 52.5
  const PageGlyphs page = page_of(g);
  struct Case {
    Rect rect;
    const char* text;
  };
  const Case cases[] = {
      {{0, 70, 10, 110}, "\u062A\u0628 \u0645\u0643"},
      {{0, 90, 10, 110}, "\u062A\u0628"},
      {{0, 70, 52.5, 100}, "\u0646 \u062A\u0628 \u0645\u0643"},  // right edge and top inclusive
      {{0, 70, 52.4, 110}, "\u062A\u0628 \u0645\u0643"},
      {{200, 0, 300, 10}, ""},
      {{kNaN, 0, 300, 300}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text_within(page, fonts(), c.rect), c.text);
  }
}

TEST(LinesToText, Cases) {
  TextLine a, b;
  a.text = "a";
  b.text = "b";
  EXPECT_EQ(lines_to_text({}), "");
  EXPECT_EQ(lines_to_text(std::vector<TextLine>{a}), "a");
  EXPECT_EQ(lines_to_text(std::vector<TextLine>{a, b}), "a\nb");
}
