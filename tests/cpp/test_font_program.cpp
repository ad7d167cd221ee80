// End-to-end decoding through a real Arabic TrueType program (Amiri, from the Debian
// package fonts-hosny-amiri): a font whose ToUnicode map is missing decodes through the
// program's character map, and one whose ToUnicode map swaps letters is distrusted and
// still decodes correctly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "font.h"

using namespace velko;

namespace {

const char* const kFontPaths[] = {
    "/usr/share/fonts/opentype/fonts-hosny-amiri/Amiri-Regular.ttf",
    "/usr/share/fonts/truetype/fonts-hosny-amiri/Amiri-Regular.ttf",
};

std::optional<Bytes> read_font() {
  for (const char* path : kFontPaths) {
    std::ifstream in(path, std::ios::binary);
    if (in) return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return std::nullopt;
}

// "بسم الله الرحمن الرحيم" plus the letters the swaps below need, without spaces.
const std::u32string kLetters = U"\u0628\u0633\u0645\u0627\u0644\u0647\u0631\u062D\u0646\u064A"
                                U"\u062A\u062B\u062C\u062E\u062F\u0630\u0632\u0634\u0635\u0636"
                                U"\u0637\u0638\u0639\u063A\u0641\u0642\u0643\u0648";

struct Program {
  Bytes bytes;
  std::map<char32_t, std::uint16_t> glyph_of;  // base letter -> a glyph the program maps to it
};

// The glyph of each letter, found through the program's own character map.
Program load() {
  Program p;
  auto bytes = read_font();
  if (!bytes) return p;
  p.bytes = std::move(*bytes);
  GlyphUnicode gu = glyph_unicode(p.bytes);
  gu.for_each([&](std::uint16_t glyph, char32_t c) {
    auto letter = arabic_letter(c);
    if (letter && *letter == c && !p.glyph_of.count(c)) p.glyph_of[c] = glyph;
  });
  return p;
}

std::string bfchar_cmap(const std::vector<std::pair<std::uint16_t, char32_t>>& entries) {
  std::string s = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                  "1 begincodespacerange <0000> <FFFF> endcodespacerange\n";
  s += std::to_string(entries.size()) + " beginbfchar\n";
  char buf[32];
  for (auto [glyph, c] : entries) {
    std::snprintf(buf, sizeof buf, "<%04X> <%04X>\n", unsigned(glyph), unsigned(c));
    s += buf;
  }
  return s + "endbfchar\nendcmap\nend end\n";
}

// An Identity-H composite font showing glyph ids, as PDF producers embed Arabic fonts.
RawFont composite_font(const Bytes& program, std::optional<std::string> cmap) {
  RawFont r;
  r.info.name = "F1";
  r.info.subtype = "Type0";
  r.info.encoding = "Identity-H";
  r.font_file2 = program;
  if (cmap) r.to_unicode = Bytes(cmap->begin(), cmap->end());
  return r;
}

// The letter a decoded glyph stands for once presentation forms are folded.
std::optional<char32_t> decoded_letter(const FontMap& map, std::uint16_t glyph) {
  auto text = map.decode("F1", glyph);
  if (!text) return std::nullopt;
  std::u32string u = utf8_to_u32(*text);
  if (u.size() != 1) return std::nullopt;
  return arabic_letter(u[0]);
}

class RealProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = load();
    if (program_.bytes.empty()) GTEST_SKIP() << "Amiri (fonts-hosny-amiri) is not installed";
    for (char32_t c : kLetters) ASSERT_TRUE(program_.glyph_of.count(c)) << std::hex << unsigned(c);
  }
  Program program_;
};

}  // namespace

TEST_F(RealProgram, MissingToUnicodeDecodesThroughTheCharacterMap) {
  FontMap map = FontMap::from_raw({composite_font(program_.bytes, std::nullopt)});
  const Font* f = map.find("F1");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->to_unicode.empty());
  EXPECT_FALSE(f->untrustworthy);
  for (char32_t c : kLetters) EXPECT_EQ(decoded_letter(map, program_.glyph_of.at(c)), c) << std::hex << unsigned(c);
}

TEST_F(RealProgram, SwappedToUnicodeIsDistrustedAndDecodesCorrectly) {
  // Swap the dotted pairs a broken producer confuses: beh/teh, dal/thal, reh/zain, seen/sheen.
  const std::map<char32_t, char32_t> swaps = {
      {0x0628, 0x062A}, {0x062A, 0x0628}, {0x062F, 0x0630}, {0x0630, 0x062F},
      {0x0631, 0x0632}, {0x0632, 0x0631}, {0x0633, 0x0634}, {0x0634, 0x0633}};
  std::vector<std::pair<std::uint16_t, char32_t>> good, bad;
  for (char32_t c : kLetters) {
    std::uint16_t g = program_.glyph_of.at(c);
    good.emplace_back(g, c);
    auto s = swaps.find(c);
    bad.emplace_back(g, s == swaps.end() ? c : s->second);
  }

  FontMap trusted = FontMap::from_raw({composite_font(program_.bytes, bfchar_cmap(good))});
  EXPECT_FALSE(trusted.find("F1")->untrustworthy);

  FontMap swapped = FontMap::from_raw({composite_font(program_.bytes, bfchar_cmap(bad))});
  const Font* f = swapped.find("F1");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->untrustworthy);
  for (char32_t c : kLetters) {
    std::uint16_t g = program_.glyph_of.at(c);
    EXPECT_EQ(decoded_letter(swapped, g), c) << std::hex << unsigned(c);
    EXPECT_EQ(decoded_letter(trusted, g), c) << std::hex << unsigned(c);
  }
}
