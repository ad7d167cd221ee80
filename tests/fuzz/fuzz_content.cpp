// Tokenizer and interpreter over arbitrary bytes. The input is split at its first 0xFF
// byte: the part before is the page content, the part after the content of form Fm2, so
// both the page and a form are fuzzed. A few fixed forms and fonts give Do and Tf
// something to find.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "content.h"

namespace {

class Widths : public velko::GlyphWidths {
 public:
  double width(std::string_view font, std::uint32_t code) const override {
    if (font.empty()) return 0.5;
    if (code == 7) return -0.25;
    return static_cast<double>(code % 1000) / 1000.0;
  }
};

velko::Bytes bytes(std::string_view s) { return velko::Bytes(s.begin(), s.end()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Widths widths;
  static const std::vector<velko::FontInfo> fonts = {
      {"F1", "TrueType", "Arial", "WinAnsiEncoding", velko::FontDecoding::HasEncoding},
      {"F2", "Type0", "Amiri", "Identity-H", velko::FontDecoding::HasToUnicode},
      {"Fm0/F1", "Type0", std::nullopt, std::nullopt, velko::FontDecoding::Neither},
  };
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::size_t cut = in.find('\xFF');
  std::string_view page = in.substr(0, cut);
  std::string_view form = cut == std::string_view::npos ? std::string_view() : in.substr(cut + 1);

  std::vector<velko::RawForm> forms = {
      {"Fm0", bytes("q /F1 10 Tf BT (ab) Tj ET /Fm1 Do /Fm0 Do /P <</MCID 1>> BDC (c) Tj Q"),
       {2, 0, 0, 2, 10, 10}},
      {"Fm0/Fm1", bytes("BT /F1 5 Tf <0001> Tj ET 0 0 100 0.5 re f /Im0 Do EMC Q Q"),
       {1, 0, 0, 1, 0, 0}},
      {"Fm2", velko::Bytes(form.begin(), form.end()), {0, 1, -1, 0, 5, 5}},
  };
  velko::Bytes content(page.begin(), page.end());
  velko::PageGlyphs out = velko::interpret_with_forms(content, fonts, forms, widths);
  // Spans must index the glyph list.
  for (const auto& s : out.mcid_spans) {
    if (s.start >= s.end || s.end > out.glyphs.size()) __builtin_trap();
  }
  for (const auto& s : out.actual_texts) {
    if (s.start >= s.end || s.end > out.glyphs.size()) __builtin_trap();
  }
  for (const auto& x : out.xobjects) {
    if (x.glyph_index > out.glyphs.size()) __builtin_trap();
  }
  return 0;
}
