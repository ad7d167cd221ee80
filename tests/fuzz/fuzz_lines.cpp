// Line reconstruction and block assembly over glyphs made from arbitrary bytes: any
// positions (NaN, infinities, zero sizes and widths), any rotation, codes whose texts are
// letters, marks, hamza letters, ligatures, digits of all three sets, tatweel, spaces,
// U+FFFD and the empty text, and ActualText spans. Nothing may crash or hang.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "arabic.h"
#include "blocks.h"
#include "font.h"

namespace {

velko::FontMap make_fonts() {
  static const char* const kTexts[] = {
      "0628", "062A", "0643", "064E", "0651", "0623", "0625", "0622", "0627", "06270627",
      "06440627", "FEFB", "FE76", "0640", "0661", "0031", "06F1", "0020", "00A0", "FFFD",
      "", "0061", "0301", "00E9", "0644", "0648", "0029", "0028", "000A", "2029", "202E",
      "D83DDE00"};
  std::string cmap = "1 begincodespacerange <00> <FF> endcodespacerange\n";
  cmap += std::to_string(std::size(kTexts)) + " beginbfchar\n";
  char code[8];
  for (std::size_t i = 0; i < std::size(kTexts); ++i) {
    std::snprintf(code, sizeof code, "%02X", static_cast<unsigned>(i));
    cmap += "<" + std::string(code) + "> <" + kTexts[i] + ">\n";
  }
  cmap += "endbfchar\n";
  std::vector<velko::RawFont> raw(2);
  raw[0].info.name = "F1";
  raw[0].to_unicode = velko::Bytes(cmap.begin(), cmap.end());
  raw[1].info.name = "F2";
  raw[1].to_unicode = velko::Bytes(cmap.begin(), cmap.end());
  return velko::FontMap::from_raw(std::move(raw));
}

double coordinate(std::uint8_t tag, std::int16_t value) {
  switch (tag & 7) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return -std::numeric_limits<double>::infinity();
    case 3: return 0.0;
    default: return value / 16.0;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const velko::FontMap fonts = make_fonts();
  velko::PageGlyphs page;
  // 12 bytes per glyph: code, flags, x, y (int16), width, size (uint8), 4 tag bytes.
  std::size_t i = 0;
  for (; i + 12 <= size && page.glyphs.size() < 4096; i += 12) {
    const std::uint8_t* r = data + i;
    std::int16_t x, y;
    std::memcpy(&x, r + 2, 2);
    std::memcpy(&y, r + 4, 2);
    velko::Glyph g;
    g.code = r[0] % 40;
    g.style.font = (r[1] & 0x80) ? "F2" : ((r[1] & 0x40) ? "F9" : "F1");
    g.rotation = r[1] & 3;
    g.x = (r[8] & 0x80) ? coordinate(r[8], x) : x / 16.0;
    g.y = (r[9] & 0x80) ? coordinate(r[9], y) : y / 16.0;
    g.width = (r[10] & 0x80) ? coordinate(r[10], r[6]) : r[6] / 16.0;
    g.style.size = (r[11] & 0x80) ? coordinate(r[11], r[7]) : r[7] / 8.0;
    page.glyphs.push_back(g);
  }
  // Remaining bytes: ActualText spans of (start, length, text code).
  for (; i + 3 <= size && page.actual_texts.size() < 64; i += 3) {
    velko::ActualText span;
    span.start = data[i];
    span.end = span.start + data[i + 1] % 16;
    span.text = (data[i + 2] & 1) ? "\u0644\u0627" : "";
    page.actual_texts.push_back(span);
  }
  auto [blocks, lines] = velko::blocks::assemble(page, fonts);
  for (const auto& b : blocks) (void)b.text();
  (void)velko::arabic::text_within(page, fonts, velko::Rect{-100, -100, 100, 100});
  return 0;
}
