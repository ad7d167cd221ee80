// glyph_unicode, glyph_outline and the simple-font kashida reading over arbitrary bytes: a TrueType program must never
// crash, over-read or take unbounded time.
#include <cstddef>
#include <cstdint>

#include "truetype.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> font(data, size);
  velko::GlyphUnicode map = velko::glyph_unicode(font);
  std::size_t budget = 256;
  map.for_each([&](std::uint16_t g, char32_t) {
    if (budget > 0) {
      --budget;
      (void)velko::glyph_outline(font, g);
    }
  });
  for (std::uint16_t g : {0, 1, 2, 0xFFFE, 0xFFFF}) (void)velko::glyph_outline(font, g);
  const auto glyphs = velko::simple_code_glyphs(font);
  for (std::uint16_t g : glyphs) {
    if (g != 0) (void)velko::is_baseline_bar(font, g);
  }
  return 0;
}
