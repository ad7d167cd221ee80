#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "layout.h"

using velko::Item;
using namespace velko::layout;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A glyph box as region reconstruction builds it from an upright glyph.
Item glyph(double x, double y, double w, double size) {
  return Item{x, x + w, y - 0.25 * size, y + 0.75 * size, size};
}

// `lines` lines of text from x0 to x1 (glyphs 5 wide), baselines `pitch` apart downwards.
void column(std::vector<Item>& out, double x0, double x1, double top, int lines,
            double pitch, double size) {
  for (int l = 0; l < lines; ++l) {
    for (double x = x0; x + 5 <= x1 + 1e-9; x += 5) out.push_back(glyph(x, top - l * pitch, 5, size));
  }
}

// Which of the two sets each group belongs to: 0 for indices < split, 1 otherwise; -1 mixed.
std::vector<int> sides(const std::vector<Group>& groups, std::size_t split) {
  std::vector<int> s;
  for (const Group& g : groups) {
    int side = g.front() < split ? 0 : 1;
    for (std::size_t i : g) {
      if ((i < split ? 0 : 1) != side) side = -1;
    }
    s.push_back(side);
  }
  return s;
}

void expect_partition(const std::vector<Group>& groups, std::size_t n) {
  std::vector<int> seen(n, 0);
  for (const Group& g : groups) {
    EXPECT_FALSE(g.empty());
    EXPECT_TRUE(std::is_sorted(g.begin(), g.end()));
    for (std::size_t i : g) {
      ASSERT_LT(i, n);
      ++seen[i];
    }
  }
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(seen[i], 1) << i;
}

}  // namespace

TEST(Layout, TotalOrder) {
  const double ordered[] = {-kNaN, -kInf, -1.0, -0.0, 0.0, 1e-300, 1.0, kInf, kNaN};
  for (std::size_t i = 0; i < std::size(ordered); ++i) {
    for (std::size_t j = 0; j < std::size(ordered); ++j) {
      EXPECT_EQ(total_less(ordered[i], ordered[j]), i < j) << i << " " << j;
    }
  }
}

TEST(Layout, MedianSize) {
  struct Case {
    std::vector<double> sizes;
    double median;
  };
  const Case cases[] = {
      {{8, 10, 12, 14}, 12},   {{14, 8, 12}, 12},  {{7}, 7},
      {{0, 0, 0}, 10},         {{-3}, 10},         {{kNaN}, 10},
      {{kNaN, 5, 7}, 7},       {{5, 7, -kNaN}, 5}, {{kInf, 1, 2}, 2},
  };
  for (const Case& c : cases) {
    std::vector<Item> items;
    Group g;
    for (double s : c.sizes) {
      g.push_back(items.size());
      items.push_back(Item{0, 1, 0, 1, s});
    }
    EXPECT_EQ(median_size(items, g), c.median);
  }
}

TEST(Layout, WidestGap) {
  struct Case {
    const char* name;
    std::vector<std::pair<double, double>> intervals;
    double min_side;
    std::optional<Gap> gap;
  };
  const Case cases[] = {
      {"single", {{0, 10}}, 0, std::nullopt},
      {"overlap", {{0, 10}, {5, 20}}, 0, std::nullopt},
      {"touching", {{0, 10}, {10, 20}}, 0, std::nullopt},
      {"one gap", {{0, 10}, {15, 20}}, 0, Gap{5, 10}},
      {"unsorted input", {{15, 20}, {0, 10}}, 0, Gap{5, 10}},
      {"widest wins", {{0, 10}, {12, 20}, {30, 40}}, 0, Gap{10, 20}},
      {"equal gaps lowest wins", {{0, 10}, {20, 30}, {40, 50}}, 0, Gap{10, 10}},
      {"reach spans nested box", {{0, 50}, {10, 20}, {60, 70}}, 0, Gap{10, 50}},
      {"side before too short", {{0, 4}, {10, 20}}, 5, std::nullopt},
      {"sides exactly enough", {{0, 5}, {10, 15}}, 5, Gap{5, 5}},
      {"side after too short", {{0, 10}, {15, 19}}, 5, std::nullopt},
      {"nan high skipped", {{0, 10}, {5, kNaN}, {20, 30}}, 0, Gap{10, 10}},
      {"nan low sorts last", {{0, 10}, {kNaN, 12}, {20, 30}}, 0, Gap{10, 10}},
      {"infinite", {{-kInf, 10}, {20, kInf}}, 0, Gap{10, 10}},
  };
  for (const Case& c : cases) {
    std::vector<Item> items;
    Group g;
    for (auto [lo, hi] : c.intervals) {
      g.push_back(items.size());
      items.push_back(Item{lo, hi, 0, 1, 10});
    }
    const auto got = widest_gap(items, g, Axis::Horizontal, c.min_side);
    ASSERT_EQ(got.has_value(), c.gap.has_value()) << c.name;
    if (got) {
      EXPECT_EQ(got->width, c.gap->width) << c.name;
      EXPECT_EQ(got->start, c.gap->start) << c.name;
    }
    // The same intervals on the vertical axis give the same answer.
    std::vector<Item> turned;
    for (const Item& it : items) turned.push_back(Item{0, 1, it.x0, it.x1, 10});
    EXPECT_EQ(widest_gap(turned, g, Axis::Vertical, c.min_side).has_value(), c.gap.has_value())
        << c.name;
  }
}

TEST(Layout, SmallInputsAreOneGroup) {
  EXPECT_TRUE(segment({}, true).empty());
  for (std::size_t n = 1; n <= 3; ++n) {
    // Far apart: they would be cut if they were enough to be cut.
    std::vector<Item> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back(glyph(i * 500.0, i * 500.0, 5, 10));
    const auto groups = segment(items, false);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].size(), n);
  }
}

TEST(Layout, Columns) {
  struct Case {
    const char* name;
    double left_width;  // left column width
    double gutter;
    int lines;
    double size;
    bool rtl;
    std::vector<int> order;  // expected sides; {-1} means one mixed group
  };
  const Case cases[] = {
      // 3 lines are shorter than 8 sizes: the gutter must be 1.5 sizes
      {"ltr left first", 100, 15, 3, 10, false, {0, 1}},
      {"rtl right first", 100, 15, 3, 10, true, {1, 0}},
      {"gutter just short", 100, 14.9, 3, 10, false, {-1}},
      // 8 lines and more make a tall group: 0.9 sizes suffice
      {"tall group narrow gutter", 100, 9, 8, 10, true, {1, 0}},
      {"tall group gutter too narrow", 100, 8.9, 8, 10, true, {-1}},
      // a one-word column is narrower than five sizes
      {"narrow column not cut", 45, 30, 3, 10, false, {-1}},
      {"column exactly five sizes", 50, 30, 3, 10, false, {0, 1}},
      // zero sizes are measured as 10
      {"zero sizes", 100, 15, 3, 0, true, {1, 0}},
  };
  for (const Case& c : cases) {
    std::vector<Item> items;
    // Glyph boxes are drawn with a fixed 10-point box height so zero sizes keep geometry.
    column(items, 0, c.left_width, 100, c.lines, 12, 10);
    const std::size_t split = items.size();
    column(items, c.left_width + c.gutter, c.left_width + c.gutter + 100, 100, c.lines, 12, 10);
    for (Item& it : items) it.size = c.size;
    const auto groups = segment(items, c.rtl);
    expect_partition(groups, items.size());
    if (c.order == std::vector<int>{-1}) {
      EXPECT_EQ(groups.size(), 1u) << c.name;
    } else {
      EXPECT_EQ(sides(groups, split), c.order) << c.name;
    }
  }
}

TEST(Layout, Rows) {
  struct Case {
    const char* name;
    double band;  // white space between the two paragraphs' boxes
    bool split;
  };
  const Case cases[] = {
      {"wide band", 30, true},
      {"band of exactly one size", 10, true},
      {"band under one size", 9.99, false},
      {"touching", 0, false},
      {"overlapping", -3, false},
  };
  for (const Case& c : cases) {
    std::vector<Item> items;
    // Lines 10 apart: boxes touch, so a paragraph is never split inside.
    column(items, 0, 40, 200, 2, 10, 10);
    const std::size_t split = items.size();
    const double lower_top = 200 - 10 - 2.5 - c.band - 7.5;  // lower line's box top = upper bottom - band
    column(items, 0, 40, lower_top, 2, 10, 10);
    const auto groups = segment(items, true);
    expect_partition(groups, items.size());
    if (c.split) {
      EXPECT_EQ(sides(groups, split), (std::vector<int>{0, 1})) << c.name;  // upper first
    } else {
      EXPECT_EQ(groups.size(), 1u) << c.name;
    }
  }
}

TEST(Layout, EqualColumnAndRowGapsCutHorizontally) {
  struct Case {
    double right_x;  // where the right-hand boxes start; the row gap is 20
    bool rtl;
    std::vector<Group> groups;
  };
  const Case cases[] = {
      {70, false, {{2, 3}, {0, 1}}},  // column gap 20 == row gap 20: rows, upper first
      {70, true, {{2, 3}, {0, 1}}},
      {71, false, {{0, 2}, {1, 3}}},  // column gap 21 > 20: columns, left first
      {71, true, {{1, 3}, {0, 2}}},   // right first
  };
  for (const Case& c : cases) {
    const std::vector<Item> items = {
        {0, 50, 0, 10, 10},
        {c.right_x, c.right_x + 50, 0, 10, 10},
        {0, 50, 30, 40, 10},
        {c.right_x, c.right_x + 50, 30, 40, 10},
    };
    EXPECT_EQ(segment(items, c.rtl), c.groups) << c.right_x << " " << c.rtl;
  }
}

TEST(Layout, DepthLimit) {
  // 40 rows of four glyphs, equal bands between them: each cut peels off the lowest row,
  // so the chain of cuts goes as deep as it may and the rest stays whole.
  std::vector<Item> items;
  const int rows = 40;
  for (int r = 0; r < rows; ++r) {
    for (int k = 0; k < 4; ++k) items.push_back(glyph(k * 5.0, r * 30.0, 5, 10));
  }
  const auto groups = segment(items, false);
  expect_partition(groups, items.size());
  ASSERT_EQ(groups.size(), kMaxDepth + 1);
  // The first group is everything above the 24 peeled rows, top rows included.
  EXPECT_EQ(groups[0].size(), (rows - kMaxDepth) * 4u);
  EXPECT_EQ(groups[0].front(), kMaxDepth * 4u);
  // Then the peeled rows, upper first.
  for (std::size_t g = 1; g < groups.size(); ++g) {
    EXPECT_EQ(groups[g], (Group{(kMaxDepth - g) * 4, (kMaxDepth - g) * 4 + 1,
                                (kMaxDepth - g) * 4 + 2, (kMaxDepth - g) * 4 + 3}));
  }
}

TEST(Layout, NestedLayoutsPartitionEverything) {
  // Recursive quadrants: columns in rows in columns, several levels deep.
  std::vector<Item> items;
  std::function<void(double, double, double, double, int)> fill =
      [&](double x0, double y0, double x1, double y1, int level) {
        if (level == 0 || x1 - x0 < 60) {
          column(items, x0, x1, y1 - 8, 3, 10, 10);
          return;
        }
        const double mx = (x0 + x1) / 2, my = (y0 + y1) / 2;
        fill(x0, y0, mx - 10, my - 12, level - 1);
        fill(mx + 10, y0, x1, my - 12, level - 1);
        fill(x0, my + 12, mx - 10, y1, level - 1);
        fill(mx + 10, my + 12, x1, y1, level - 1);
      };
  fill(0, 0, 2000, 2000, 5);
  const auto groups = segment(items, true);
  expect_partition(groups, items.size());
  EXPECT_GT(groups.size(), 100u);
}

TEST(Layout, BadCoordinatesNeverBreakThePartition) {
  std::mt19937 rng(7);
  const double specials[] = {kNaN, -kNaN, kInf, -kInf, 0.0, -0.0, 1e308, -1e308};
  for (int round = 0; round < 200; ++round) {
    std::vector<Item> items;
    const int n = 4 + static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) {
      auto pick = [&](double normal) {
        return rng() % 5 == 0 ? specials[rng() % std::size(specials)] : normal;
      };
      const double x = static_cast<double>(rng() % 500), y = static_cast<double>(rng() % 700);
      items.push_back(Item{pick(x), pick(x + 5), pick(y), pick(y + 10), pick(10)});
    }
    const auto groups = segment(items, round % 2 == 0);
    expect_partition(groups, items.size());
  }
}

TEST(Layout, ManyGlyphsOnOneLine) {
  std::vector<Item> items;
  for (int i = 0; i < 60000; ++i) items.push_back(glyph(i * 5.0, 100, 5, 10));
  for (int i = 0; i < 5000; ++i) items.push_back(glyph(i * 5.0, 100, 0, 0));  // zero-width
  const auto t0 = std::chrono::steady_clock::now();
  const auto groups = segment(items, true);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
  expect_partition(groups, items.size());
  EXPECT_EQ(groups.size(), 1u);
  EXPECT_LT(ms, 2000);
}

namespace {

// The segmentation written the plain way, re-sorting every group at every step with the
// public widest_gap; the engine keeps sorted orders across the recursion instead and must
// give the very same groups.
void reference_cut(std::span<const Item> items, Group group, bool rtl, std::size_t depth,
                   std::vector<Group>& out) {
  if (depth >= kMaxDepth || group.size() <= 3) {
    out.push_back(group);
    return;
  }
  const double m = median_size(items, group);
  double top = NAN, bottom = NAN;
  for (std::size_t i : group) {
    if (!std::isnan(items[i].y1) && (std::isnan(top) || items[i].y1 > top)) top = items[i].y1;
    if (!std::isnan(items[i].y0) && (std::isnan(bottom) || items[i].y0 < bottom)) {
      bottom = items[i].y0;
    }
  }
  const double height = top - bottom;
  std::optional<Gap> column;
  if (height >= 1.8 * m) column = widest_gap(items, group, Axis::Horizontal, 5 * m);
  const std::optional<Gap> row = widest_gap(items, group, Axis::Vertical, 0);
  const double t = height < 8 * m ? 1.5 * m : 0.9 * m;
  int chosen = 0;  // 1 vertical cut, 2 horizontal cut
  if (column && row) {
    chosen = (column->width >= t && column->width > row->width) ? 1
             : row->width >= m                                   ? 2
             : column->width >= t                                ? 1
                                                                 : 0;
  } else if (column) {
    chosen = column->width >= t ? 1 : 0;
  } else if (row) {
    chosen = row->width >= m ? 2 : 0;
  }
  if (chosen == 0) {
    out.push_back(group);
    return;
  }
  const double start = chosen == 1 ? column->start : row->start;
  Group low, high;
  for (std::size_t i : group) {
    ((chosen == 1 ? items[i].x1 : items[i].y1) <= start ? low : high).push_back(i);
  }
  if (low.empty() || high.empty()) {
    out.push_back(group);
    return;
  }
  const bool high_first = chosen == 2 || rtl;
  reference_cut(items, high_first ? high : low, rtl, depth + 1, out);
  reference_cut(items, high_first ? low : high, rtl, depth + 1, out);
}

}  // namespace

TEST(Layout, SegmentMatchesThePlainRecursion) {
  std::mt19937 rng(1234);
  const double specials[] = {NAN, INFINITY, -INFINITY, 0.0, -0.0};
  for (int round = 0; round < 300; ++round) {
    // Pages of a few columns of lines, words of random widths, some equal gaps, and now
    // and then a coordinate that is not a number.
    std::vector<Item> items;
    const int columns = 1 + static_cast<int>(rng() % 3);
    const int lines = 1 + static_cast<int>(rng() % 12);
    const double size = 6 + static_cast<double>(rng() % 10);
    for (int c = 0; c < columns; ++c) {
      for (int l = 0; l < lines; ++l) {
        double x = 50 + 200.0 * c;
        const double y = 700 - l * size * (1.2 + (rng() % 3) * 0.5);
        const int words = 1 + static_cast<int>(rng() % 5);
        for (int w = 0; w < words; ++w) {
          const double width = size * (1 + rng() % 4);
          items.push_back(Item{x, x + width, y - 0.25 * size, y + 0.75 * size, size});
          x += width + size * (rng() % 2 ? 0.3 : 1.0);
        }
      }
    }
    if (round % 5 == 0 && !items.empty()) {
      Item& it = items[rng() % items.size()];
      const double v = specials[rng() % 5];
      switch (rng() % 4) {
        case 0: it.x0 = v; break;
        case 1: it.x1 = v; break;
        case 2: it.y0 = v; break;
        default: it.y1 = v; break;
      }
    }
    for (bool rtl : {false, true}) {
      Group all(items.size());
      for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
      std::vector<Group> expected;
      reference_cut(items, all, rtl, 0, expected);
      EXPECT_EQ(segment(items, rtl), expected) << "round " << round << " rtl " << rtl;
    }
  }
}
