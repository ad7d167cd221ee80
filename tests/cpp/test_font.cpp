#include <gtest/gtest.h>

#include "font.h"
#include "font_builder.h"

using namespace velko;
using namespace velko::testing;

namespace {

std::string u8(std::u32string_view s) { return u32_to_utf8(s); }
std::string u8(char32_t c) { return u32_to_utf8(std::u32string(1, c)); }

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A ToUnicode CMap with one bfchar entry per (code, text) pair.
Bytes to_unicode(const std::vector<std::pair<std::uint32_t, std::u32string>>& entries) {
  std::string s = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                  "1 begincodespacerange <0000> <FFFF> endcodespacerange\n";
  s += std::to_string(entries.size()) + " beginbfchar\n";
  char buf[16];
  for (const auto& [code, text] : entries) {
    std::snprintf(buf, sizeof buf, "<%04X> <", code);
    s += buf;
    for (char32_t c : text) {
      if (c > 0xFFFF) {
        char32_t v = c - 0x10000;
        std::snprintf(buf, sizeof buf, "%04X%04X", unsigned(0xD800 + (v >> 10)),
                      unsigned(0xDC00 + (v & 0x3FF)));
      } else {
        std::snprintf(buf, sizeof buf, "%04X", unsigned(c));
      }
      s += buf;
    }
    s += ">\n";
  }
  s += "endbfchar endcmap end end\n";
  return bytes(s);
}

RawFont simple(std::string name) {
  RawFont r;
  r.info.name = std::move(name);
  r.info.subtype = "TrueType";
  return r;
}

RawFont composite(std::string name) {
  RawFont r;
  r.info.name = std::move(name);
  r.info.subtype = "Type0";
  return r;
}

}  // namespace

TEST(CharacterFunctions, ArabicLetterAndGroups) {
  struct Case {
    char32_t c;
    std::optional<char32_t> letter, group;
  };
  const Case cases[] = {
      {0x0627, 0x0627, std::nullopt},  {0xFE8E, 0x0627, std::nullopt},
      {0x0640, std::nullopt, std::nullopt}, {0x0621, 0x0621, std::nullopt},
      {0x063A, 0x063A, std::nullopt},  {0x063B, std::nullopt, std::nullopt},
      {0x064B, std::nullopt, std::nullopt}, {0x0643, 0x0643, 0x0643},
      {0x06A9, std::nullopt, 0x0643},  {0xFEDA, 0x0643, 0x0643},
      {0xFB8F, std::nullopt, 0x0643},  {0x0647, 0x0647, 0x0647},
      {0x06BE, std::nullopt, 0x0647},  {0x06C1, std::nullopt, 0x0647},
      {0x06D5, std::nullopt, 0x0647},  {0xFEEA, 0x0647, 0x0647},
      {0x0649, 0x0649, 0x064A},        {0x064A, 0x064A, 0x064A},
      {0x06CC, std::nullopt, 0x064A},  {0xFEF2, 0x064A, 0x064A},
      {0xFEFB, std::nullopt, std::nullopt}, {'A', std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(arabic_letter(c.c), c.letter) << std::hex << unsigned(c.c);
    EXPECT_EQ(variant_group(c.c), c.group) << std::hex << unsigned(c.c);
  }
  EXPECT_TRUE(same_letter_after_nfkc(0x0627, 0xFE8E));
  EXPECT_TRUE(same_letter_after_nfkc('x', 'x'));
  EXPECT_TRUE(same_letter_after_nfkc(0xFB01, 0xFB01));
  EXPECT_FALSE(same_letter_after_nfkc(0x0643, 0x06A9));
  EXPECT_FALSE(same_letter_after_nfkc(0x0644, 0xFEFB));  // lam vs lam-alef: two characters
  EXPECT_EQ(nfkc(U"\uFEFB"), U"\u0644\u0627");
}

TEST(FontTest, SeparatorOverrides) {
  struct Case {
    const char* label;
    std::optional<std::string> base;
    std::vector<std::pair<std::uint8_t, std::string>> differences;
    std::u32string to_unicode;
    std::optional<std::u32string> want;
  };
  const Case cases[] = {
      {"encoding agrees: no override", "WinAnsiEncoding", {}, U",", U","},
      {"Arabic comma from differences", "WinAnsiEncoding", {{0x2C, "afii57388"}}, U",", U"\u060C"},
      {"Arabic decimal separator", std::nullopt, {{0x2C, "uni066B"}}, U".", U"\u066B"},
      {"second opinion not a separator", std::nullopt, {{0x2C, "alefarabic"}}, U",", U","},
      {"ToUnicode not a separator", std::nullopt, {{0x2C, "afii57388"}}, U"x", U"x"},
      {"ToUnicode two characters", std::nullopt, {{0x2C, "afii57388"}}, U",,", U",,"},
  };
  for (const auto& c : cases) {
    RawFont r = simple("F1");
    r.base_encoding = c.base;
    r.differences = c.differences;
    r.to_unicode = to_unicode({{0x2C, c.to_unicode}});
    Font f = Font::from_raw(std::move(r));
    EXPECT_EQ(f.decode(0x2C), c.want ? std::optional(u8(*c.want)) : std::nullopt) << c.label;
  }

  // A composite font never has a second opinion.
  RawFont r = composite("F2");
  r.base_encoding = "WinAnsiEncoding";
  r.differences = {{0x2C, "afii57388"}};
  r.to_unicode = to_unicode({{0x2C, U","}});
  Font f = Font::from_raw(std::move(r));
  EXPECT_TRUE(f.overrides.empty());
  EXPECT_EQ(f.decode(0x2C), ",");
  EXPECT_TRUE(f.encoding.differences.empty());
  EXPECT_FALSE(f.encoding.base.has_value());
}

TEST(FontTest, DecodePrecedenceWithoutProgram) {
  RawFont r = simple("F1");
  r.base_encoding = "WinAnsiEncoding";
  r.differences = {{0x42, "beharabic"}, {0x43, "nosuchglyph"}};
  r.to_unicode = to_unicode({{0x41, U"\u0627"}, {0x44, U""}});
  Font f = Font::from_raw(std::move(r));
  EXPECT_EQ(f.decode(0x41), u8(0x0627));  // ToUnicode first
  EXPECT_EQ(f.decode(0x44), "");          // an empty ToUnicode text is an answer
  EXPECT_EQ(f.decode(0x42), u8(0x0628));  // then the differences
  EXPECT_EQ(f.decode(0x43), std::nullopt);
  EXPECT_EQ(f.decode(0x45), "E");  // then the base encoding
  EXPECT_EQ(f.decode(0x100), std::nullopt);
  EXPECT_FALSE(f.untrustworthy);
}

TEST(FontMapTest, WidthsAndNames) {
  RawFont a = simple("F1");
  a.first_char = 32;
  a.widths = {250, 500};
  a.missing_width = 111;
  RawFont b = composite("F2");
  b.cid_widths = {{1, 1, 500}, {3, 3, 700}, {10, 12, 300}, {2, 11, 900}};
  RawFont c = composite("F3");  // no /W: default width everywhere
  RawFont d1 = simple("F4");
  d1.widths = {100};
  RawFont d2 = simple("F4");  // the later of two same-named fonts wins
  d2.widths = {200};
  FontMap map = FontMap::from_raw({a, b, c, d1, d2});

  struct Case {
    const char* font;
    std::uint32_t code;
    double want;
  };
  const Case cases[] = {
      {"F1", 31, 0.111}, {"F1", 32, 0.25}, {"F1", 33, 0.5}, {"F1", 34, 0.111},
      {"F1", 0xFFFFFFFF, 0.111},
      {"F2", 0, 1.0},    {"F2", 1, 0.5},   {"F2", 2, 0.9},  {"F2", 3, 0.7},
      {"F2", 4, 0.9},    {"F2", 10, 0.3},  {"F2", 11, 0.3}, {"F2", 12, 0.3}, {"F2", 13, 1.0},
      {"F3", 7, 1.0},    {"F4", 0, 0.2},   {"nope", 0, 0.5}, {"", 65, 0.5},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(map.width(c.font, c.code), c.want) << c.font << " " << c.code;

  EXPECT_EQ(map.find("nope"), nullptr);
  EXPECT_EQ(map.decode("nope", 65), std::nullopt);
  ASSERT_NE(map.find("F4"), nullptr);
  EXPECT_EQ(map.fonts.size(), 4u);
  EXPECT_EQ(FontMap::from_raw({}).width("F1", 0), 0.5);
}

TEST(FontMapTest, CidWidthIndexMatchesFirstEntryRule) {
  // Overlapping /W entries in many shapes: the resolved ranges must give the same answer
  // as a scan for the first covering entry.
  std::vector<CidWidth> entries;
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245 + 12345, (seed >> 8) % 200; };
  for (int i = 0; i < 60; ++i) {
    std::uint32_t a = next(), b = next();
    entries.push_back({a, b, double(next())});
  }
  entries.push_back({0xFFFFFFF0, 0xFFFFFFFF, 42});
  RawFont r = composite("F");
  r.cid_widths = entries;
  r.default_width = 7;
  Font f = Font::from_raw(std::move(r));
  auto scan = [&](std::uint32_t code) {
    for (const auto& e : entries)
      if (e.first <= code && code <= e.last) return e.width;
    return 7.0;
  };
  for (std::uint32_t code = 0; code < 210; ++code) EXPECT_EQ(f.glyph_width(code), scan(code)) << code;
  EXPECT_EQ(f.glyph_width(0xFFFFFFFF), 42);
  EXPECT_EQ(f.glyph_width(0xFFFFFFEF), 7);
}
