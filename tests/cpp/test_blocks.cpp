#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blocks.h"
#include "glyph_fixtures.h"

using namespace velko;
using namespace velko::test;

namespace {

const FontMap& fonts() {
  static const FontMap f = test_fonts();
  return f;
}

std::vector<G> line_at(std::vector<std::uint32_t> codes, double x0, double y) {
  return run(std::move(codes), x0, y);
}

void add(std::vector<G>& to, const std::vector<G>& more) { to.insert(to.end(), more.begin(), more.end()); }

}  // namespace

TEST(Assemble, EmptyPage) {
  const auto [blocks, lines] = blocks::assemble(PageGlyphs{}, fonts());
  EXPECT_TRUE(blocks.empty());
  EXPECT_TRUE(lines.empty());
}

TEST(Assemble, OneTextBlockPerRegionInReadingOrder) {
  // Two columns of two lines each; the left column's second line has an unresolved glyph.
  std::vector<G> g;
  const std::vector<std::uint32_t> word(20, kBeh);
  std::vector<std::uint32_t> broken(20, kTeh);
  broken[3] = kUnmapped;
  add(g, line_at(word, 0, 100));
  add(g, line_at(broken, 0, 88));
  add(g, line_at(std::vector<std::uint32_t>(20, kKaf), 120, 100));
  add(g, line_at(std::vector<std::uint32_t>(20, kMeem), 120, 88));
  const auto [blocks, lines] = blocks::assemble(page_of(g), fonts());

  ASSERT_EQ(blocks.size(), 2u);
  ASSERT_EQ(lines.size(), 4u);
  const auto& right = std::get<TextBlock>(blocks[0].value);
  const auto& left = std::get<TextBlock>(blocks[1].value);
  // Arabic page: the right-hand column is read first.
  EXPECT_EQ(right.reading_index, 0u);
  EXPECT_EQ(left.reading_index, 1u);
  EXPECT_EQ(blocks[0].reading_index(), 0u);
  EXPECT_EQ(blocks[1].reading_index(), 1u);
  EXPECT_EQ(right.bbox, (Rect{120, 85.5, 220, 107.5}));
  EXPECT_EQ(left.bbox, (Rect{0, 85.5, 100, 107.5}));

  const std::string kafs = utf8(std::u32string(20, U'\u0643'));
  const std::string meems = utf8(std::u32string(20, U'\u0645'));
  EXPECT_EQ(right.text(), kafs + "\n" + meems);
  EXPECT_EQ(blocks[0].text(), right.text());
  EXPECT_EQ(right.confidence, 1.0);
  EXPECT_DOUBLE_EQ(left.confidence, 1.0 - 1.0 / 40.0);
  EXPECT_EQ(left.lines[1].unresolved, 1u);

  // The page's lines follow the blocks' order.
  EXPECT_EQ(lines[0].text, kafs);
  EXPECT_EQ(lines[1].text, meems);
  EXPECT_EQ(lines[2].text, utf8(std::u32string(20, U'\u0628')));
  // visual position 3 of 20 is logical position 16, after 16 two-byte letters
  EXPECT_EQ(lines[3].text.find("\uFFFD"), 32u);
}

TEST(Assemble, LatinPageReadsLeftColumnFirst) {
  std::vector<G> g;
  add(g, line_at(std::vector<std::uint32_t>(20, kLatinA), 0, 100));
  add(g, line_at(std::vector<std::uint32_t>(20, kLatinA), 0, 88));
  add(g, line_at(std::vector<std::uint32_t>(20, kLatinB), 120, 100));
  add(g, line_at(std::vector<std::uint32_t>(20, kLatinB), 120, 88));
  const auto [blocks, lines] = blocks::assemble(page_of(g), fonts());
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].text(), std::string(20, 'a') + "\n" + std::string(20, 'a'));
  EXPECT_EQ(blocks[1].text(), std::string(20, 'b') + "\n" + std::string(20, 'b'));
}

TEST(Assemble, SilentPageHasNoBlocks) {
  PageGlyphs page = page_of(run({kEmpty, kSpace, kReplacement}, 0));
  const auto [blocks, lines] = blocks::assemble(page, fonts());
  EXPECT_TRUE(blocks.empty());
  EXPECT_TRUE(lines.empty());
}

TEST(TextBlock, TextAndConfidenceOfNoGlyphs) {
  TextBlock b;
  EXPECT_EQ(b.text(), "");
  EXPECT_EQ(b.confidence, 1.0);
  TextLine x, y;
  x.text = "a";
  y.text = "b";
  b.lines = {x, y};
  EXPECT_EQ(b.text(), "a\nb");
  EXPECT_EQ(Block{b}.text(), "a\nb");
}
