#include <gtest/gtest.h>

#include "font.h"

using namespace velko;

namespace {

CMap parse(std::string_view text) {
  return CMap::parse(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::optional<std::string> u8(std::u32string_view s) { return u32_to_utf8(s); }

struct Lookup {
  std::uint32_t code;
  std::optional<std::u32string> text;
};

void expect_lookups(const CMap& cmap, std::initializer_list<Lookup> lookups,
                    std::string_view label) {
  for (const auto& l : lookups) {
    auto want = l.text ? u8(*l.text) : std::nullopt;
    EXPECT_EQ(cmap.get(l.code), want) << label << " code " << l.code;
  }
}

}  // namespace

TEST(CMapTest, Sections) {
  struct Case {
    const char* label;
    const char* text;
    std::initializer_list<Lookup> lookups;
  };
  const Case cases[] = {
      {"bfchar", "2 beginbfchar <0003> <0627> <0004> <FEFB> endbfchar",
       {{3, U"\u0627"}, {4, U"\uFEFB"}, {5, std::nullopt}}},
      {"bfrange text", "1 beginbfrange <0010> <0012> <0041> endbfrange",
       {{16, U"A"}, {17, U"B"}, {18, U"C"}, {19, std::nullopt}, {15, std::nullopt}}},
      {"bfrange array then later range",
       "2 beginbfrange <01> <03> [<0041> <0042>] <03> <03> <0058> endbfrange",
       {{1, U"A"}, {2, U"B"}, {3, U"X"}}},
      {"two-character start advances the last character",
       "1 beginbfrange <0020> <0021> <06440627> endbfrange",
       {{0x20, U"\u0644\u0627"}, {0x21, U"\u0644\u0628"}}},
      {"white space inside hex", "1 beginbfchar <00 05> <0644 0627> endbfchar",
       {{5, U"\u0644\u0627"}}},
      {"bfchar wins over an earlier range",
       "1 beginbfrange <01> <05> <0041> endbfrange 1 beginbfchar <03> <0627> endbfchar",
       {{2, U"B"}, {3, U"\u0627"}, {4, U"D"}}},
      {"later bfchar wins", "beginbfchar <01> <0041> <01> <0042> endbfchar", {{1, U"B"}}},
      {"empty destination", "beginbfchar <07> <> endbfchar", {{7, U""}}},
      {"odd destination", "beginbfchar <07> <00410> endbfchar", {{7, U"A"}}},
      {"lone surrogate", "beginbfchar <07> <D800> endbfchar", {{7, U"\uFFFD"}}},
      {"surrogate pair", "beginbfchar <07> <D83DDE00> endbfchar", {{7, U"\U0001F600"}}},
      {"long source uses four bytes", "beginbfchar <0000000105> <0041> endbfchar",
       {{1, U"A"}, {0x105, std::nullopt}}},
      {"empty source is code 0", "beginbfchar <> <0041> endbfchar", {{0, U"A"}}},
      {"the narrowest matching range answers",
       "beginbfrange <01> <05> <0041> <03> <03> <0058> endbfrange",
       {{2, U"B"}, {3, U"X"}, {4, U"D"}}},
      {"a range with a wrong end does not shadow later entries",
       "beginbfrange <01ff> <02ff> <feec> <0200> <0200> <feeb> <0219> <0219> <feee> endbfrange",
       {{0x1ff, U"\uFEEC"}, {0x200, U"\uFEEB"}, {0x219, U"\uFEEE"}, {0x21a, U"\uFF07"}}},
      {"equally narrow ranges: the first in file order",
       "beginbfrange <01> <02> <0041> <02> <03> <0061> endbfrange", {{2, U"B"}, {3, U"b"}}},
      {"range beyond the scalar values keeps its last character",
       "beginbfrange <00> <05> <DBFFDFFF> endbfrange", {{0, U"\U0010FFFF"}, {1, U"\U0010FFFF"}}},
      {"range into the surrogates keeps its last character",
       "beginbfrange <00> <05> <D7FF> endbfrange", {{0, U"\uD7FF"}, {1, U"\uD7FF"}}},
      {"lo above hi never matches", "beginbfrange <05> <01> <0041> endbfrange",
       {{5, std::nullopt}, {3, std::nullopt}}},
      {"empty range text", "beginbfrange <01> <03> <> endbfrange", {{2, U""}}},
      {"surroundings do not disturb",
       "%!PS-Adobe-3.0 Resource-CMap\n/CIDInit /ProcSet findresource begin\n"
       "12 dict begin begincmap /CIDSystemInfo << /Registry (Adobe) /Ordering (UCS (x\\) y)) "
       "/Supplement 0 >> def /CMapName /Adobe-Identity-UCS def % comment <0001> <0042>\n"
       "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
       "1 beginbfchar <0001> <0041> endbfchar endcmap CMapName currentdict /CMap "
       "defineresource pop end end",
       {{1, U"A"}}},
      {"missing endcodespacerange loses later sections",
       "begincodespacerange <00> <FF> beginbfchar <01> <0041> endbfchar", {{1, std::nullopt}}},
      {"stray tokens inside sections are skipped",
       "beginbfchar <01> foo <02> <0042> endbfchar beginbfrange <10> <11> /x <12> <13> <0041> "
       "endbfrange",
       {{1, std::nullopt}, {2, U"B"}, {0x12, U"A"}, {0x13, U"B"}, {0x10, std::nullopt}}},
      {"missing end keyword runs to the end", "beginbfchar <01> <0041> <02> <0042>",
       {{1, U"A"}, {2, U"B"}}},
      {"missing > runs to the end", "beginbfchar <01> <0041", {{1, U"A"}}},
      {"array without close", "beginbfrange <01> <02> [<0041> <0042>", {{1, U"A"}, {2, U"B"}}},
      {"stray closing parenthesis", ") ) beginbfchar <01> <0041> endbfchar )", {{1, U"A"}}},
      {"begincidrange is ignored", "begincidrange <01> <02> 5 endcidrange", {{1, std::nullopt}}},
  };
  for (const auto& c : cases) expect_lookups(parse(c.text), c.lookups, c.label);
}

TEST(CMapTest, RangesStayRanges) {
  CMap cmap = parse("beginbfrange <00000000> <FFFFFFFF> <0041> endbfrange");
  ASSERT_EQ(cmap.ranges.size(), 1u);
  EXPECT_TRUE(cmap.chars.empty());
  EXPECT_EQ(cmap.get(0), "A");
  EXPECT_EQ(cmap.get(1), "B");
  // 0x41 + 0xFFFFFFFF is no scalar value: the text is left as it was.
  EXPECT_EQ(cmap.get(0xFFFFFFFF), "A");
}

TEST(CMapTest, EmptyAndUnusable) {
  for (const char* text : {"", "garbage ( unbalanced", "<<<<>>>>", "beginbfchar", "[[[]]]"}) {
    CMap cmap = parse(text);
    EXPECT_TRUE(cmap.empty()) << text;
    EXPECT_EQ(cmap.get(0), std::nullopt);
  }
}

TEST(CMapTest, Tokens) {
  auto t = cmap_tokens(std::span(reinterpret_cast<const std::uint8_t*>("<<a>> [<4>] (s(t)r) x\xff"),
                                 22));
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[0].word, "<<");
  EXPECT_EQ(t[1].word, "a");
  EXPECT_EQ(t[2].kind, Token::Kind::ArrayOpen);
  EXPECT_EQ(t[3].kind, Token::Kind::Hex);
  EXPECT_EQ(t[3].hex, Bytes{0x40});
  EXPECT_EQ(t[4].kind, Token::Kind::ArrayClose);
  EXPECT_EQ(t[5].word, "x\xEF\xBF\xBD");  // invalid UTF-8 becomes U+FFFD
}

TEST(CMapTest, HexAndUtf16) {
  EXPECT_EQ(hex_bytes("0a1B zz\n2"), (Bytes{0x0A, 0x1B, 0x20}));
  EXPECT_EQ(hex_bytes(""), Bytes{});
  EXPECT_EQ(utf16be_to_string(Bytes{0x06, 0x27, 0x00}), u8(U"\u0627"));
  EXPECT_EQ(utf16be_to_string(Bytes{0xDC, 0x00, 0x00, 0x41}), u8(U"\uFFFDA"));
  EXPECT_EQ(utf16be_to_string(Bytes{0xD8, 0x00}), u8(U"\uFFFD"));
}
