#include <gtest/gtest.h>

#include "font_builder.h"
#include "truetype.h"

using namespace velko;
using namespace velko::testing;

namespace {

std::map<std::uint16_t, char32_t> as_map(const GlyphUnicode& gu) {
  std::map<std::uint16_t, char32_t> m;
  for (auto [g, c] : gu.iter()) m[g] = c;
  return m;
}

Buf with_cmap(const std::vector<Encoding16>& records) {
  return Sfnt().add("cmap", cmap_table(records)).build();
}

// A format 4 subtable with one segment 0x30..0x33 read through the glyph index array
// [5, 0, 7] with idDelta 2 (0x33's entry lies past the end of the subtable).
Buf format4_with_glyph_array() {
  Buf b;
  put16(b, 4);
  put16(b, 38);
  put16(b, 0);
  put16(b, 4);  // segCountX2
  put16(b, 0);
  put16(b, 0);
  put16(b, 0);
  put16(b, 0x33);  // endCode
  put16(b, 0xFFFF);
  put16(b, 0);
  put16(b, 0x30);  // startCode
  put16(b, 0xFFFF);
  put16(b, 2);  // idDelta
  put16(b, 1);
  put16(b, 4);  // idRangeOffset: from its own position (28) to the array (32)
  put16(b, 0);
  put16(b, 5);
  put16(b, 0);
  put16(b, 7);
  return b;
}

}  // namespace

TEST(TrueTypeTest, CharacterMaps) {
  struct Case {
    const char* label;
    Buf font;
    std::map<std::uint16_t, char32_t> want;
  };
  const Case cases[] = {
      {"(3,1) format 4", truetype_with_cmap({{0x627, 3}, {0x41, 4}}), {{3, 0x627}, {4, 0x41}}},
      {"platform 0 only", with_cmap({{0, 3, cmap_format4({{0x627, 3}})}}), {}},
      {"(3,0) symbol is not read", with_cmap({{3, 0, cmap_format4({{0x627, 3}})}}), {}},
      {"(3,10) wins when listed last",
       with_cmap({{3, 1, cmap_format4({{0x41, 1}})}, {3, 10, cmap_format12({{0x42, 0x42, 2}})}}),
       {{2, 0x42}}},
      {"(3,10) wins when listed first",
       with_cmap({{3, 10, cmap_format12({{0x42, 0x42, 2}})}, {3, 1, cmap_format4({{0x41, 1}})}}),
       {{2, 0x42}}},
      {"first of equal priorities",
       with_cmap({{3, 1, cmap_format4({{0x41, 1}})}, {3, 1, cmap_format4({{0x42, 2}})}}),
       {{1, 0x41}}},
      {"idDelta wrapping to glyph 0 records nothing", truetype_with_cmap({{1, 0}}), {}},
      {"presentation form wins", truetype_with_cmap({{0x647, 5}, {0xFEEA, 5}}), {{5, 0xFEEA}}},
      {"smaller code point wins", truetype_with_cmap({{0x41, 5}, {0x61, 5}}), {{5, 0x41}}},
      {"smaller presentation form wins", truetype_with_cmap({{0xFEEA, 5}, {0xFEE9, 5}}),
       {{5, 0xFEE9}}},
      {"private use skipped", truetype_with_cmap({{0xE000, 5}, {0xF8FF, 6}, {0x627, 7}}),
       {{7, 0x627}}},
      {"glyph index array", with_cmap({{3, 1, format4_with_glyph_array()}}),
       {{7, 0x30}, {9, 0x32}}},
      {"format 12 groups",
       with_cmap({{3, 10, cmap_format12({{0x1EE00, 0x1EE02, 10},
                                         {0x50, 0x40, 20},  // end < start: skipped
                                         {0xF0000, 0xF0001, 30},  // private use
                                         {0x41, 0x45, 0xFFFE}})}}),  // runs past glyph 0xFFFF
       {{10, 0x1EE00}, {11, 0x1EE01}, {12, 0x1EE02}, {0xFFFE, 0x41}, {0xFFFF, 0x42}}},
      {"format 12 beyond Unicode", with_cmap({{3, 10, cmap_format12({{0x10FFFF, 0x110001, 3}})}}),
       {{3, 0x10FFFF}}},
      {"other formats give nothing", with_cmap({{3, 1, Buf{0, 6, 0, 0, 0, 0}}}), {}},
      {"no cmap", Sfnt().add("head", Buf(54, 0)).build(), {}},
      {"too short", Buf{0, 1, 0, 0, 0}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(as_map(glyph_unicode(c.font)), c.want) << c.label;
}

TEST(TrueTypeTest, MalformedCharacterMaps) {
  // The record count decides how far the records run (they overlap the subtable here):
  // five records fit in the table, a sixth does not, and then nothing is read at all.
  Buf cmap = cmap_table({{3, 1, cmap_format4({{0x627, 3}})}});
  ASSERT_EQ(cmap.size(), 4u + 8 + 32);
  cmap[3] = 5;
  EXPECT_FALSE(glyph_unicode(Sfnt().add("cmap", cmap).build()).empty());
  cmap[3] = 6;
  EXPECT_TRUE(glyph_unicode(Sfnt().add("cmap", cmap).build()).empty());

  // No encoding records.
  EXPECT_TRUE(glyph_unicode(Sfnt().add("cmap", Buf{0, 0, 0, 0}).build()).empty());

  // A subtable offset beyond the table is not a candidate.
  Buf far = cmap_table({{3, 1, cmap_format4({{0x627, 3}})}});
  far[8] = 0x7F;
  EXPECT_TRUE(glyph_unicode(Sfnt().add("cmap", far).build()).empty());

  // Format 12 claiming 2^32-1 groups with none behind it: nothing, and quickly.
  Buf huge;
  put16(huge, 12);
  put16(huge, 0);
  put32(huge, 16);
  put32(huge, 0);
  put32(huge, 0xFFFFFFFF);
  EXPECT_TRUE(glyph_unicode(with_cmap({{3, 10, huge}})).empty());

  // Format 4 with 32767 claimed segments and no data: nothing.
  Buf seg;
  put16(seg, 4);
  put16(seg, 14);
  put16(seg, 0);
  put16(seg, 0xFFFE);
  EXPECT_TRUE(glyph_unicode(with_cmap({{3, 1, seg}})).empty());

  // 32767 overlapping segments each covering the whole BMP: a hostile map that would
  // take billions of steps. The walk stops once it has covered as many characters as
  // the BMP holds, so later segments (which would give every glyph a smaller character)
  // barely start.
  {
    const std::uint32_t n = 32767;
    Buf st;
    put16(st, 4);
    put16(st, 0);
    put16(st, 0);
    put16(st, 2 * n);
    put16(st, 0);
    put16(st, 0);
    put16(st, 0);
    for (std::uint32_t i = 0; i < n; ++i) put16(st, 0xFFFE);  // endCode
    put16(st, 0);
    for (std::uint32_t i = 0; i < n; ++i) put16(st, 0);  // startCode
    for (std::uint32_t i = 0; i < n; ++i) put16(st, i == 0 ? 1 : 2);  // idDelta
    for (std::uint32_t i = 0; i < n; ++i) put16(st, 0);  // idRangeOffset
    GlyphUnicode gu = glyph_unicode(with_cmap({{3, 1, st}}));
    EXPECT_EQ(gu.get(0x100), U'\u00FF');
    EXPECT_EQ(gu.get(0xFFFF), U'\uFFFE');
  }

  // A table directory entry pointing past the end of the file hides the table.
  Buf font = truetype_with_cmap({{0x627, 3}});
  font[12 + 15] = 0xFF;  // the cmap length
  EXPECT_FALSE(table(font, "cmap").has_value());
  EXPECT_TRUE(glyph_unicode(font).empty());

  // A directory claiming more tables than the file holds.
  Buf many = truetype_with_cmap({{0x627, 3}});
  many[4] = 0xFF;
  many[5] = 0xFF;
  EXPECT_EQ(as_map(glyph_unicode(many)), (std::map<std::uint16_t, char32_t>{{3, 0x627}}));
}

TEST(TrueTypeTest, Outlines) {
  Sfnt s;
  add_outlines(s, {std::nullopt, Outline{2, -5, -10, 300, 700}, Outline{-1, 0, 0, 10, 10}});
  Buf font = s.build();
  EXPECT_EQ(glyph_outline(font, 0), std::nullopt);  // empty glyph
  EXPECT_EQ(glyph_outline(font, 1), (OutlineHeader{2, -5, -10, 700}));
  EXPECT_EQ(glyph_outline(font, 2), (OutlineHeader{-1, 0, 0, 10}));
  EXPECT_EQ(glyph_outline(font, 3), std::nullopt);  // no loca entry for glyph 4
  EXPECT_EQ(glyph_outline(font, 0xFFFF), std::nullopt);

  // Short loca offsets (halved), with a record shorter than ten bytes.
  Buf head(54, 0);
  Buf loca, glyf;
  put16(loca, 0);
  put16(loca, 6);   // glyph 0: 12 bytes
  put16(loca, 10);  // glyph 1: 8 bytes, too short
  for (int v : {1, 3, 4, 99, 5, 0, 0, 0, 0, 0}) put16(glyf, std::uint16_t(v));
  Buf short_font = Sfnt().add("head", head).add("loca", loca).add("glyf", glyf).build();
  EXPECT_EQ(glyph_outline(short_font, 0), (OutlineHeader{1, 3, 4, 5}));
  EXPECT_EQ(glyph_outline(short_font, 1), std::nullopt);

  // indexToLocFormat other than 0 or 1; head too short; no glyf.
  Buf bad_head = head;
  bad_head[51] = 2;
  EXPECT_EQ(glyph_outline(Sfnt().add("head", bad_head).add("loca", loca).add("glyf", glyf).build(), 0),
            std::nullopt);
  EXPECT_EQ(glyph_outline(Sfnt().add("head", Buf(51, 0)).add("loca", loca).add("glyf", glyf).build(), 0),
            std::nullopt);
  EXPECT_EQ(glyph_outline(Sfnt().add("head", head).add("loca", loca).build(), 0), std::nullopt);
}

TEST(TrueTypeTest, TatweelVariants) {
  const Outline tatweel{1, 0, 10, 400, 60};
  struct Case {
    const char* label;
    std::vector<std::optional<Outline>> glyphs;
    std::map<std::uint16_t, std::uint16_t> cmap;
    std::map<std::uint16_t, char32_t> want;
  };
  const Case cases[] = {
      {"kashidas of other lengths",
       {std::nullopt, tatweel, Outline{1, 0, 10, 900, 60}, Outline{1, 0, 10, 150, 60},
        Outline{1, 0, 11, 900, 60}, Outline{1, 0, 10, 900, 60}},
       {{0x640, 1}, {0x627, 5}},
       {{1, 0x640}, {2, 0x640}, {3, 0x640}, {5, 0x627}}},
      {"composite tatweel gives no variants",
       {std::nullopt, Outline{-1, 0, 10, 400, 60}, Outline{-1, 0, 10, 900, 60}},
       {{0x640, 1}},
       {{1, 0x640}}},
      {"glyph 0 can be a variant",
       {tatweel, tatweel},
       {{0x640, 1}},
       {{0, 0x640}, {1, 0x640}}},
      {"no tatweel in the map", {std::nullopt, tatweel, tatweel}, {{0x627, 1}}, {{1, 0x627}}},
  };
  for (const auto& c : cases) {
    Sfnt s;
    s.add("cmap", cmap_table({{3, 1, cmap_format4(c.cmap)}}));
    add_outlines(s, c.glyphs);
    EXPECT_EQ(as_map(glyph_unicode(s.build())), c.want) << c.label;
  }

  // maxp with a glyph count of 0 leaves the map as the character map made it.
  Sfnt s;
  s.add("cmap", cmap_table({{3, 1, cmap_format4({{0x640, 1}})}}));
  add_outlines(s, {std::nullopt, tatweel, tatweel});
  Buf font = s.build();
  auto maxp = table(font, "maxp");
  ASSERT_TRUE(maxp.has_value());
  std::size_t at = std::size_t(maxp->data() - font.data()) + 4;
  font[at] = font[at + 1] = 0;
  EXPECT_EQ(as_map(glyph_unicode(font)), (std::map<std::uint16_t, char32_t>{{1, 0x640}}));
}

TEST(TrueTypeTest, GlyphUnicodeMap) {
  GlyphUnicode gu;
  EXPECT_TRUE(gu.empty());
  gu.set(0xFFFF, 0x41);
  gu.set(3, 0);  // U+0000 is a character like any other
  gu.set(3, 0x42);
  EXPECT_EQ(gu.size(), 2u);
  EXPECT_EQ(gu.get(3), U'B');
  EXPECT_EQ(gu.get(4), std::nullopt);
  EXPECT_EQ(gu.get(0xFFFF), U'A');
}

TEST(SimpleCodeGlyphs, ByteCodeCharacterMaps) {
  struct Case {
    const char* name;
    std::vector<Encoding16> records;
    std::vector<std::pair<int, std::uint16_t>> expect;  // code, glyph
  };
  const Case cases[] = {
      {"mac format 0", {{1, 0, cmap_format0({{9, 3}, {65, 7}})}}, {{9, 3}, {65, 7}, {66, 0}}},
      {"symbol at 0xF000 + code", {{3, 0, cmap_format4({{0xF009, 4}})}}, {{9, 4}, {10, 0}}},
      {"symbol at the code itself", {{3, 0, cmap_format4({{0x0009, 5}})}}, {{9, 5}}},
      {"symbol wins over mac", {{1, 0, cmap_format0({{9, 3}})}, {3, 0, cmap_format4({{0xF009, 4}})}},
       {{9, 4}}},
      {"mac where symbol maps nothing",
       {{3, 0, cmap_format4({{0xF041, 4}})}, {1, 0, cmap_format0({{9, 3}})}}, {{9, 3}, {65, 4}}},
      {"format 6", {{1, 0, cmap_format6(8, {11, 12})}}, {{7, 0}, {8, 11}, {9, 12}, {10, 0}}},
      {"unicode maps are not byte maps", {{3, 1, cmap_format4({{9, 3}})}}, {{9, 0}}},
  };
  for (const Case& c : cases) {
    Sfnt s;
    s.add("cmap", cmap_table(c.records));
    const Buf font = s.build();
    const auto glyphs = simple_code_glyphs(font);
    for (const auto& [code, glyph] : c.expect) EXPECT_EQ(glyphs[code], glyph) << c.name << " " << code;
  }
  EXPECT_EQ(simple_code_glyphs(Buf{1, 2, 3})[9], 0);
}

TEST(IsBaselineBar, KashidaShapes) {
  struct Case {
    const char* name;
    std::optional<Outline> outline;
    bool bar;
  };
  const Case cases[] = {
      {"kashida", Outline{1, 0, -5, 320, 77}, true},
      {"long kashida", Outline{1, 0, 0, 900, 60}, true},
      {"full stop", Outline{1, 0, 0, 100, 100}, false},
      {"underscore below the baseline", Outline{1, 0, -150, 500, -100}, false},
      {"hyphen above it", Outline{1, 0, 250, 300, 320}, false},
      {"two contours", Outline{2, 0, -5, 320, 77}, false},
      {"too thick", Outline{1, 0, 0, 900, 200}, false},
      {"composite glyph", Outline{-1, 0, -5, 320, 77}, false},
      {"empty glyph", std::nullopt, false},
  };
  for (const Case& c : cases) {
    Sfnt s;
    add_outlines(s, {Outline{}, c.outline});
    EXPECT_EQ(is_baseline_bar(s.build(), 1), c.bar) << c.name;
  }
}
