// Small pages of placed glyphs for line and block tests: a font map built the way real
// files carry it (a ToUnicode CMap per font), and glyphs placed by hand.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "content.h"
#include "font.h"
#include "pdf_builder.h"
#include "types.h"

namespace velko::test {

// Character codes of the test font and the text its ToUnicode gives them.
enum Code : std::uint32_t {
  kBeh = 1,
  kTeh,
  kKaf,
  kFatha,
  kAlefHamzaAbove,
  kAlef,
  kTwoAlefs,
  kLamAlef,  // a ligature glyph whose ToUnicode gives lam alef in logical order
  kSpace,
  kOneAI,    // ARABIC-INDIC DIGIT ONE
  kTwoAI,
  kThreeAI,
  kFourAI,
  kDigit1,
  kDigit2,
  kDigit3,
  kTatweel,
  kFathaIsolated,  // U+FE76
  kLatinA,
  kLatinB,
  kAlefHamzaBelow,
  kReplacement,   // the font itself says U+FFFD
  kLamAlefForm,   // U+FEFB, the presentation form
  kShadda,
  kAcute,         // U+0301
  kMeem,
  kNoon,
  kEmpty,         // maps to the empty text
  kUnmapped = 200,
};

inline const std::vector<std::pair<std::uint32_t, std::u32string>>& code_table() {
  static const std::vector<std::pair<std::uint32_t, std::u32string>> t = {
      {kBeh, U"\u0628"},           {kTeh, U"\u062A"},         {kKaf, U"\u0643"},
      {kFatha, U"\u064E"},         {kAlefHamzaAbove, U"\u0623"}, {kAlef, U"\u0627"},
      {kTwoAlefs, U"\u0627\u0627"}, {kLamAlef, U"\u0644\u0627"}, {kSpace, U" "},
      {kOneAI, U"\u0661"},         {kTwoAI, U"\u0662"},       {kThreeAI, U"\u0663"},
      {kFourAI, U"\u0664"},        {kDigit1, U"1"},           {kDigit2, U"2"},
      {kDigit3, U"3"},             {kTatweel, U"\u0640"},     {kFathaIsolated, U"\uFE76"},
      {kLatinA, U"a"},             {kLatinB, U"b"},           {kAlefHamzaBelow, U"\u0625"},
      {kReplacement, U"\uFFFD"},   {kLamAlefForm, U"\uFEFB"}, {kShadda, U"\u0651"},
      {kAcute, U"\u0301"},         {kMeem, U"\u0645"},        {kNoon, U"\u0646"},
  };
  return t;
}

// Hex digits of the text's UTF-16BE code units, without the brackets and mark.
inline std::string utf16_hex_of(const std::u32string& s) {
  const std::string h = utf16_hex(s);  // <FEFF....>
  return h.substr(5, h.size() - 6);
}

// A ToUnicode CMap for the code table (one-byte codes).
inline std::string to_unicode_cmap() {
  std::string s =
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
      "1 begincodespacerange <00> <FF> endcodespacerange\n";
  const auto& t = code_table();
  s += std::to_string(t.size() + 1) + " beginbfchar\n";
  char buf[8];
  for (const auto& [code, text] : t) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(code));
    s += "<" + std::string(buf) + "> <" + utf16_hex_of(text) + ">\n";
  }
  std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(kEmpty));
  s += "<" + std::string(buf) + "> <>\n";
  s += "endbfchar\nendcmap CMapName currentdict /CMap defineresource pop end end\n";
  return s;
}

// A page font map with fonts F1 and F2, both carrying the test ToUnicode.
inline FontMap test_fonts() {
  std::vector<RawFont> raw;
  for (const char* name : {"F1", "F2"}) {
    RawFont f;
    f.info.name = name;
    f.info.subtype = "TrueType";
    f.info.decoding = FontDecoding::HasToUnicode;
    const std::string cmap = to_unicode_cmap();
    f.to_unicode = Bytes(cmap.begin(), cmap.end());
    raw.push_back(std::move(f));
  }
  return FontMap::from_raw(std::move(raw));
}

// One upright glyph of font F1 unless told otherwise.
struct G {
  std::uint32_t code = kBeh;
  double x = 0;
  double width = 5;
  double y = 100;
  double size = 10;
  std::uint8_t rotation = 0;
  const char* font = "F1";
};

inline Glyph make_glyph(const G& g) {
  Glyph out;
  out.style.font = g.font;
  out.style.size = g.size;
  out.x = g.x;
  out.y = g.y;
  out.width = g.width;
  out.code = g.code;
  out.rotation = g.rotation;
  return out;
}

inline PageGlyphs page_of(const std::vector<G>& glyphs) {
  PageGlyphs p;
  for (const G& g : glyphs) p.glyphs.push_back(make_glyph(g));
  return p;
}

// Codes laid out left to right from x0, each `width` wide, on baseline y.
inline std::vector<G> run(std::vector<std::uint32_t> codes, double x0, double y = 100,
                          double width = 5, double size = 10) {
  std::vector<G> out;
  for (std::uint32_t c : codes) {
    out.push_back(G{c, x0, width, y, size});
    x0 += width;
  }
  return out;
}

inline std::string utf8(const std::u32string& s) { return u32_to_utf8(s); }

}  // namespace velko::test
