#include <gtest/gtest.h>

#include <thread>

#include "encoding.h"
#include "types.h"

using namespace velko;

namespace {

std::optional<std::string> utf8(std::u32string_view s) { return u32_to_utf8(s); }

}  // namespace

TEST(GlyphNames, Resolve) {
  struct Case {
    const char* name;
    std::optional<std::u32string> text;
  };
  const Case cases[] = {
      {"alefarabic", U"\u0627"},
      {"aleffinalarabic", U"\uFE8E"},
      {"lamalefisolatedarabic", U"\uFEFB"},
      {"uni0627", U"\u0627"},
      {"u0627", U"\u0627"},
      {"uni06440627", U"\u0644\u0627"},
      {"uni0627uni0644", U"\u0627\u0644"},
      {"uni0627.fina", U"\u0627"},
      {"uni0644_uni0627", U"\u0644\u0627"},
      {"uni062", std::nullopt},
      {"u1EE00", U"\U0001EE00"},
      {"u1ee00", U"\U0001EE00"},
      {"u10FFFF", U"\U0010FFFF"},
      {"u110000", std::nullopt},
      {"uD800", std::nullopt},
      {"uniD800", U"\uFFFD"},
      {"uniD83DDE00", U"\U0001F600"},
      {"u123", std::nullopt},
      {"u1234567", std::nullopt},
      {"hyphenminus", U"-"},
      {"hyphen", U"-"},
      {".notdef", std::nullopt},
      {"", std::nullopt},
      {"_a", std::nullopt},
      {"a_", std::nullopt},
      {"a__b", std::nullopt},
      {"a_foo", std::nullopt},
      {"a.sc", U"a"},
      {"f_f_i", U"ffi"},
      {"g123", std::nullopt},
      {"cid00042", std::nullopt},
      {"index7", std::nullopt},
      {"dalethatafpatah", U"\u05D3\u05B2"},  // a two-character glyph-list entry
      {"afii57388", U"\u060C"},
  };
  for (const auto& c : cases) {
    auto want = c.text ? utf8(*c.text) : std::nullopt;
    EXPECT_EQ(glyph_name_to_string(c.name), want) << c.name;
  }
}

TEST(GlyphNames, ComponentRules) {
  EXPECT_EQ(component_to_string("alefarabic"), utf8(U"\u0627"));
  EXPECT_EQ(component_to_string("hyphenminus"), "-");
  // A uni form that fails the digit test falls through to the u form, which fails too.
  EXPECT_EQ(component_to_string("uniXYZW"), std::nullopt);
  // "uni" alone leaves nothing after the prefix.
  EXPECT_EQ(component_to_string("uni"), std::nullopt);
  EXPECT_EQ(component_to_string("a.sc"), std::nullopt);  // suffixes are the caller's job
}

TEST(GlyphList, EmbeddedListIsComplete) {
  const GlyphList& list = glyph_list();
  EXPECT_EQ(list.size(), 4281u);
  std::size_t sequences = 0;  // names that stand for more than one character
  for (const auto& [name, text] : list) sequences += utf8_to_u32(text).size() > 1;
  EXPECT_EQ(sequences, 81u);
  EXPECT_EQ(&glyph_list(), &list);
}

TEST(GlyphList, ConcurrentFirstUseSeesOneList) {
  std::vector<const GlyphList*> seen(4);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { seen[i] = &glyph_list(); });
  for (auto& t : threads) t.join();
  for (auto* p : seen) EXPECT_EQ(p, seen[0]);
}

TEST(GlyphList, Parse) {
  GlyphList list = parse_glyph_list(
      "# comment\r\n"
      "  A;0041  \r\n"
      "\n"
      "pair;05D3 05B2\n"
      "plus;+0042\n"
      "bad1;00ZZ\n"
      "bad2;D800\n"
      "bad3;110000\n"
      "bad4;100000000\n"
      "nosemicolon 0041\n"
      "empty;\n"
      "A;0061\n"
      "tabbed;0041\t\t0042");
  EXPECT_EQ(list.size(), 4u);
  EXPECT_EQ(list.at("A"), "a");  // the later line replaces the earlier one
  EXPECT_EQ(list.at("pair"), utf8(U"\u05D3\u05B2"));
  EXPECT_EQ(list.at("plus"), "B");
  EXPECT_EQ(list.at("tabbed"), "AB");
}

TEST(EncodingTest, BaseTables) {
  struct Case {
    const char* base;
    std::uint32_t code;
    std::optional<char32_t> want;
  };
  const Case cases[] = {
      {"WinAnsiEncoding", 0x80, 0x20AC}, {"WinAnsiEncoding", 0x81, std::nullopt},
      {"WinAnsiEncoding", 0xE9, 0x00E9}, {"WinAnsiEncoding", 0x41, 0x0041},
      {"WinAnsiEncoding", 0x7F, std::nullopt}, {"WinAnsiEncoding", 0x1F, std::nullopt},
      {"WinAnsiEncoding", 0x9F, 0x0178}, {"WinAnsiEncoding", 0x8D, std::nullopt},
      {"WinAnsiEncoding", 0xA0, 0x00A0}, {"WinAnsiEncoding", 0x93, 0x201C},
      {"MacRomanEncoding", 0xDB, 0x20AC}, {"MacRomanEncoding", 0xF0, 0xF8FF},
      {"MacRomanEncoding", 0xBD, 0x03A9}, {"MacRomanEncoding", 0xC6, 0x2206},
      {"MacRomanEncoding", 0x80, 0x00C4}, {"MacRomanEncoding", 0xFF, 0x02C7},
      {"MacRomanEncoding", 0x7F, std::nullopt}, {"MacRomanEncoding", 0x27, 0x0027},
      {"StandardEncoding", 0x27, 0x2019}, {"StandardEncoding", 0x60, 0x2018},
      {"StandardEncoding", 0xE9, std::nullopt}, {"StandardEncoding", 0x41, 0x0041},
      {"PDFDocEncoding", 0x27, 0x2019}, {"PDFDocEncoding", 0xE9, std::nullopt},
      {"winansiencoding", 0x41, std::nullopt},  // names are case-sensitive
      {"Identity-H", 0x41, std::nullopt},
  };
  for (const auto& c : cases) {
    Encoding e = Encoding::make(std::string(c.base), {});
    std::optional<std::string> want;
    if (c.want) want = u32_to_utf8(std::u32string(1, *c.want));
    EXPECT_EQ(e.decode(c.code), want) << c.base << " " << c.code;
  }
  EXPECT_EQ(Encoding::make(std::nullopt, {}).decode(0x41), std::nullopt);
}

TEST(EncodingTest, PdfDocDecodesLikeStandard) {
  Encoding pdfdoc = Encoding::make(std::string("PDFDocEncoding"), {});
  Encoding standard = Encoding::make(std::string("StandardEncoding"), {});
  for (std::uint32_t code = 0; code < 300; ++code)
    EXPECT_EQ(pdfdoc.decode(code), standard.decode(code)) << code;
}

TEST(EncodingTest, Differences) {
  Encoding e = Encoding::make(std::string("WinAnsiEncoding"),
                              {{0x41, "alefarabic"}, {0x42, "g123"}, {0x43, "beharabic"},
                               {0x41, "lamarabic"}, {0xC0, "uni0644_uni0627"}});
  EXPECT_EQ(e.decode(0x41), utf8(U"\u0644"));  // the later pair wins
  EXPECT_EQ(e.decode(0x42), std::nullopt);     // unresolved name hides WinAnsi 'B'
  EXPECT_EQ(e.decode(0x43), utf8(U"\u0628"));
  EXPECT_EQ(e.decode(0x44), "D");              // not in the differences: base table
  EXPECT_EQ(e.decode(0xC0), utf8(U"\u0644\u0627"));
  EXPECT_EQ(e.decode(300), std::nullopt);
  EXPECT_EQ(e.decode(0x141), std::nullopt);  // not folded onto 0x41

  Encoding no_base = Encoding::make(std::nullopt, {{0x20, "space"}});
  EXPECT_EQ(no_base.decode(0x20), " ");
  EXPECT_EQ(no_base.decode(0x21), std::nullopt);
}
