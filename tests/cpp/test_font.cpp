#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "font.h"
#include "font_builder.h"
#include "parser.h"
#include "pdf_builder.h"

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

namespace {

struct Witness {
  std::uint16_t code;                  // also the glyph id
  char32_t program;                    // the TrueType character map's character
  std::optional<std::u32string> text;  // the ToUnicode text, if any
};

// A simple font whose embedded TrueType program maps glyph `code` to `program`, and
// whose ToUnicode gives `text` for the code.
RawFont witnessed_font(const std::vector<Witness>& witnesses, std::string subtype = "TrueType") {
  std::map<std::uint16_t, std::uint16_t> cmap;
  std::vector<std::pair<std::uint32_t, std::u32string>> tu;
  for (const auto& w : witnesses) {
    cmap[std::uint16_t(w.program)] = w.code;
    if (w.text) tu.emplace_back(w.code, *w.text);
  }
  RawFont r = simple("F1");
  r.info.subtype = std::move(subtype);
  r.font_file2 = truetype_with_cmap(cmap);
  if (!tu.empty()) r.to_unicode = to_unicode(tu);
  return r;
}

// Ten glyphs, four of which the ToUnicode map gives as other Arabic letters.
std::vector<Witness> four_swapped() {
  return {{1, 0x0627, U"\u0627"}, {2, 0x0628, U"\u0628"}, {3, 0x062A, U"\u062A"},
          {4, 0x062B, U"\u062B"}, {5, 0x062C, U"\u062C"}, {6, 0x062D, U"\u062D"},
          {7, 0x062F, U"\u0631"}, {8, 0x0631, U"\u062F"}, {9, 0x0633, U"\u0634"},
          {10, 0x0634, U"\u0633"}};
}

}  // namespace

TEST(TrustTest, Verdicts) {
  auto same = [](std::uint16_t code, char32_t c) { return Witness{code, c, std::u32string(1, c)}; };
  auto run = [&](std::vector<Witness> w) {
    return Font::from_raw(witnessed_font(w)).untrustworthy;
  };
  std::vector<Witness> base;
  for (std::uint16_t i = 1; i <= 8; ++i) base.push_back(same(i, 0x0627 + i));

  struct Case {
    const char* label;
    std::vector<Witness> witnesses;
    bool want;
  };
  std::vector<Case> cases;
  cases.push_back({"ten glyphs, four swapped letters", four_swapped(), true});
  {
    std::vector<Witness> w;
    for (std::uint16_t i = 1; i <= 7; ++i) w.push_back({i, char32_t(0x0627 + i), U"\u0621"});
    cases.push_back({"seven compared, all mismatched", w, false});
  }
  {
    auto w = base;
    w[0] = {1, 0x064A, U"\u06CC"};  // Farsi yeh for yeh: letter variants agree
    w[1] = {2, 0x0643, U"\u06A9"};  // keheh for kaf
    w[2] = {3, 0x0661, U"1"};       // the same digit in another script
    w[3] = {4, 0x066C, U","};       // thousands separator
    w[4] = {5, 0x066B, U"."};       // decimal separator
    w[5] = {6, 0xFE8E, U"\u0627"};  // final alef: same letter after NFKC
    w[6] = {7, 0x06F5, U"\u0665"};  // extended and plain Arabic-Indic five
    cases.push_back({"agreements", w, false});
  }
  {
    // 3 of 12 mismatched (under a third), all three serious: Arabic letters swapped.
    std::vector<Witness> w;
    for (std::uint16_t i = 1; i <= 9; ++i) w.push_back(same(i, 0x0627 + i));
    w.push_back({10, 0x0644, U"\u0645"});
    w.push_back({11, 0x0645, U"\u0644"});
    w.push_back({12, 0x0646, U" "});  // white space for a letter is serious too
    cases.push_back({"three serious mismatches", w, true});
  }
  {
    // 3 of 12 mismatched with Latin text for Arabic glyphs: not serious, under a third.
    std::vector<Witness> w;
    for (std::uint16_t i = 1; i <= 9; ++i) w.push_back(same(i, 0x0627 + i));
    w.push_back({10, 0x0644, U"x"});
    w.push_back({11, 0x0645, U"y"});
    w.push_back({12, 0x0646, U"z"});
    cases.push_back({"three mild mismatches", w, false});
  }
  {
    // Mismatches on non-Arabic glyphs count only by their share: more than a third.
    std::vector<Witness> w;
    for (std::uint16_t i = 1; i <= 7; ++i) w.push_back(same(i, 0x0627 + i));
    for (std::uint16_t i = 8; i <= 11; ++i) w.push_back({i, char32_t('a' + i), U"\u0627"});
    cases.push_back({"four of eleven mismatched", w, true});
    w.push_back(same(12, 'A'));
    cases.push_back({"four of twelve mismatched: exactly a third", w, false});
  }
  {
    // Mirrored characters, missing and multi-character entries are not compared.
    auto w = base;
    w.resize(7);
    for (std::uint16_t i = 20; i < 30; ++i) w.push_back({i, '(', U"\u0627"});
    w.push_back({30, 0x0628, std::nullopt});
    w.push_back({31, 0x0629, U"\u0627\u0627"});
    w.push_back({32, 0x062A, U""});
    cases.push_back({"skipped pairs", w, false});
  }
  for (const auto& c : cases) EXPECT_EQ(run(c.witnesses), c.want) << c.label;

  // Without ToUnicode, or without a program, nothing is untrustworthy.
  EXPECT_FALSE(to_unicode_is_untrustworthy(CMap{}, glyph_unicode(witnessed_font(four_swapped()).font_file2.value()), std::nullopt));
  EXPECT_FALSE(to_unicode_is_untrustworthy(CMap::parse(*witnessed_font(four_swapped()).to_unicode),
                                           GlyphUnicode{}, std::nullopt));
}

TEST(TrustTest, CidToGidWitnesses) {
  // Codes reach glyphs through CIDToGIDMap: code i -> glyph 100 + i.
  std::vector<Witness> w = four_swapped();
  std::map<std::uint16_t, std::uint16_t> cmap;
  std::vector<std::pair<std::uint32_t, std::u32string>> tu;
  Bytes cid_to_gid;
  for (const auto& x : w) {
    cmap[std::uint16_t(x.program)] = std::uint16_t(100 + x.code);
    tu.emplace_back(x.code, *x.text);
  }
  for (std::uint16_t code = 0; code <= 10; ++code) {
    std::uint16_t gid = code == 0 ? 0 : std::uint16_t(100 + code);
    cid_to_gid.push_back(std::uint8_t(gid >> 8));
    cid_to_gid.push_back(std::uint8_t(gid));
  }
  cid_to_gid.push_back(0x01);  // a trailing odd byte is dropped
  RawFont r = composite("F1");
  r.font_file2 = truetype_with_cmap(cmap);
  r.to_unicode = to_unicode(tu);
  r.cid_to_gid_map = cid_to_gid;
  Font f = Font::from_raw(r);
  ASSERT_TRUE(f.cid_to_gid.has_value());
  EXPECT_EQ(f.cid_to_gid->size(), 11u);
  EXPECT_TRUE(f.untrustworthy);
  EXPECT_EQ(f.decode(7), u8(0x062F));  // the program's letter, through the glyph map
  EXPECT_EQ(f.decode(1), u8(0x0627));
  EXPECT_EQ(f.decode(11), std::nullopt);  // beyond the map: no glyph, no ToUnicode

  // Without the map the codes themselves are glyph ids and find nothing to compare.
  r.cid_to_gid_map.reset();
  EXPECT_FALSE(Font::from_raw(r).untrustworthy);
}

TEST(FontTest, DecodeWithEmbeddedProgram) {
  std::vector<Witness> w = four_swapped();
  w.push_back({11, 0x064A, U"\u06CC"});         // variant: ToUnicode's Farsi yeh is kept
  w.push_back({12, 0xFE8E, U"\u0627"});         // same letter after NFKC: program's form
  w.push_back({13, 0xFEFB, U"\u0644\u0627"});   // ligature spelt out by ToUnicode
  w.push_back({14, 0xFEFB, U"\u0644\u0628"});   // wrong spelling: the ligature
  w.push_back({15, '(', U")"});                 // mirrored: ToUnicode text
  w.push_back({16, 0x0640, U"\u0627"});         // tatweel always wins
  w.push_back({17, 0x0645, std::nullopt});      // no ToUnicode entry: program
  w.push_back({18, 0x0646, U""});               // empty text: program
  w.push_back({19, 0xFEDB, U"\u06A9"});         // initial kaf vs keheh: ToUnicode's variant
  w.push_back({20, 0x0643, U"\u0644\u0627"});   // program has one letter: program
  w.push_back({21, 0xFEFC, U"\u0644\uFE8E"});   // final lam-alef vs lam + final alef
  Font f = Font::from_raw(witnessed_font(w));
  ASSERT_TRUE(f.untrustworthy);
  struct Case {
    std::uint32_t code;
    std::optional<std::u32string> want;
  };
  const Case cases[] = {
      {1, U"\u0627"},  {7, U"\u062F"},  {8, U"\u0631"},  {9, U"\u0633"},
      {10, U"\u0634"}, {11, U"\u06CC"}, {12, U"\uFE8E"}, {13, U"\u0644\u0627"},
      {14, U"\uFEFB"}, {15, U")"},      {16, U"\u0640"}, {17, U"\u0645"},
      {18, U"\u0646"}, {19, U"\u06A9"}, {20, U"\u0643"}, {21, U"\u0644\uFE8E"},
      {0x10000, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(f.decode(c.code), c.want ? std::optional(u8(*c.want)) : std::nullopt) << c.code;
}

TEST(FontTest, TrustedFontKeepsToUnicode) {
  std::vector<Witness> w;
  for (std::uint16_t i = 1; i <= 10; ++i) w.push_back({i, char32_t(0x0627 + i), std::u32string(1, char32_t(0x0627 + i))});
  w.push_back({11, 0x0645, U"\u0644"});  // one mismatch does not distrust the font
  w.push_back({12, 0x0640, U"-"});       // but tatweel is still the program's
  w.push_back({13, 0x0646, std::nullopt});
  Font f = Font::from_raw(witnessed_font(w));
  EXPECT_FALSE(f.untrustworthy);
  EXPECT_EQ(f.decode(11), u8(0x0644));
  EXPECT_EQ(f.decode(12), u8(0x0640));
  EXPECT_EQ(f.decode(13), u8(0x0646));  // last resort: the program's character map
  EXPECT_EQ(f.decode(14), std::nullopt);
}

TEST(FontTest, ProgramIsTheLastResort) {
  // No ToUnicode: the encoding and CFF names come before the TrueType map.
  RawFont r = witnessed_font({{0x41, 0x0627, std::nullopt}, {0x42, 0x0628, std::nullopt}});
  r.base_encoding = "WinAnsiEncoding";
  r.differences = {{0x42, "nosuchglyph"}};
  Font f = Font::from_raw(r);
  EXPECT_EQ(f.decode(0x41), "A");
  EXPECT_EQ(f.decode(0x42), u8(0x0628));  // the encoding gives nothing for it
}

TEST(FontTest, CffNames) {
  CffSpec spec{{"alefarabic", "comma"}, 4, Buf{0, 0x01, 0x87, 0x01, 0x88, 0, 34}, {},
               Buf{0, 3, 0x41, 0x2C, 0x43}, {}, false};
  RawFont r = simple("F1");
  r.font_file3 = cff_program(spec);
  r.differences = {{0x43, "beharabic"}};
  Font f = Font::from_raw(r);
  EXPECT_EQ(f.cff_names.size(), 3u);
  EXPECT_EQ(f.decode(0x41), u8(0x0627));
  EXPECT_EQ(f.decode(0x43), u8(0x0628));  // the encoding's differences come first

  // A CFF name as the separator's second opinion when the encoding says nothing.
  RawFont s = simple("F2");
  spec.strings = {"alefarabic", "afii57388"};
  s.font_file3 = cff_program(spec);
  s.to_unicode = to_unicode({{0x2C, U","}});
  EXPECT_EQ(Font::from_raw(s).decode(0x2C), u8(0x060C));

  // A composite font never reads a CFF program.
  RawFont c = composite("F3");
  c.font_file3 = cff_program(spec);
  EXPECT_TRUE(Font::from_raw(c).cff_names.empty());
}

TEST(FontPdfTest, ArabicFontDecodesFromThePdf) {
  // Two Identity-H fonts sharing one embedded TrueType program: F1 with a ToUnicode map
  // that swaps four letters, F2 with its ToUnicode removed. Both must decode to the
  // program's letters once copied out of the file.
  std::vector<Witness> w = four_swapped();
  std::map<std::uint16_t, std::uint16_t> cmap;
  std::vector<std::pair<std::uint32_t, std::u32string>> tu;
  for (const auto& x : w) {
    cmap[std::uint16_t(x.program)] = x.code;
    tu.emplace_back(x.code, *x.text);
  }
  Buf program = truetype_with_cmap(cmap);
  Bytes swapped = to_unicode(tu);

  velko::test::PdfBuilder b;
  int file = b.add_stream("", std::string(program.begin(), program.end()), true);
  int descriptor = b.add("<< /Type /FontDescriptor /FontName /AAAAAA+Test /FontFile2 " +
                         std::to_string(file) + " 0 R >>");
  int cid_font = b.add("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /AAAAAA+Test "
                       "/CIDToGIDMap /Identity /DW 600 /W [1 [500 510]] /FontDescriptor " +
                       std::to_string(descriptor) + " 0 R >>");
  int cmap_stream = b.add_stream("", std::string(swapped.begin(), swapped.end()), true);
  std::string type0 = "/Type /Font /Subtype /Type0 /BaseFont /AAAAAA+Test /Encoding /Identity-H "
                      "/DescendantFonts [" + std::to_string(cid_font) + " 0 R]";
  int f1 = b.add("<< " + type0 + " /ToUnicode " + std::to_string(cmap_stream) + " 0 R >>");
  int f2 = b.add("<< " + type0 + " >>");
  std::string path = velko::test::simple_pdf(
      b, {{"BT /F1 12 Tf <0001> Tj ET",
           "/MediaBox [0 0 200 200] /Resources << /Font << /F1 " + std::to_string(f1) +
               " 0 R /F2 " + std::to_string(f2) + " 0 R >> >>"}});

  auto pdf = Pdf::open(path);
  ASSERT_TRUE(pdf.ok()) << pdf.error().message();
  auto raw = pdf.value().page_raw_fonts(1);
  ASSERT_TRUE(raw.ok());
  FontMap map = FontMap::from_raw(std::move(raw.value()));
  ASSERT_NE(map.find("F1"), nullptr);
  ASSERT_NE(map.find("F2"), nullptr);
  EXPECT_TRUE(map.find("F1")->untrustworthy);
  EXPECT_TRUE(map.find("F2")->to_unicode.empty());
  for (const auto& x : w) {
    EXPECT_EQ(map.decode("F1", x.code), u8(x.program)) << x.code;
    EXPECT_EQ(map.decode("F2", x.code), u8(x.program)) << x.code;
  }
  EXPECT_DOUBLE_EQ(map.width("F1", 2), 0.51);
  EXPECT_DOUBLE_EQ(map.width("F2", 9), 0.6);
}

// End-to-end decoding through a real Arabic TrueType program (Amiri, from the Debian
// package fonts-hosny-amiri): a font whose ToUnicode map is missing decodes through the
// program's character map, and one whose ToUnicode map swaps letters is distrusted and
// still decodes correctly.

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

TEST(FontTest, UnmappedKashidaOfASimpleTrueTypeFont) {
  // Codes 9 and 10 have no ToUnicode entry; the program draws 9 as a baseline bar and 10
  // as something else. Code 11 is mapped, although its glyph is a bar too.
  Sfnt s;
  s.add("cmap", cmap_table({{1, 0, cmap_format0({{9, 1}, {10, 2}, {11, 1}})}}));
  add_outlines(s, {Outline{}, Outline{1, 0, -5, 320, 77}, Outline{1, 0, 0, 500, 700}});
  const Buf program = s.build();

  RawFont raw = simple("F1");
  raw.to_unicode = to_unicode({{11, U"\u0640"}, {12, U"\u0628"}});
  raw.truetype_program = Bytes(program.begin(), program.end());
  const Font f = Font::from_raw(raw);
  EXPECT_EQ(f.decode(9), u8(0x0640));
  EXPECT_EQ(f.decode(10), std::nullopt);
  EXPECT_EQ(f.decode(11), u8(0x0640));
  EXPECT_EQ(f.decode(12), u8(0x0628));

  // A font without the program, or a composite font, has no such codes.
  RawFont bare = raw;
  bare.truetype_program.reset();
  EXPECT_EQ(Font::from_raw(bare).decode(9), std::nullopt);
  RawFont two = composite("F2");
  two.truetype_program = raw.truetype_program;
  EXPECT_EQ(Font::from_raw(two).decode(9), std::nullopt);
}
