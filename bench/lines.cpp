// Line reconstruction throughput: synthetic two-column Arabic pages (letters, harakat
// drawn as zero-advance glyphs, digits, spaces) through block assembly.
//   bench_lines [pages]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "blocks.h"
#include "content.h"
#include "font.h"

using namespace velko;

namespace {

FontMap bench_fonts() {
  // code -> text: 1..28 Arabic letters, 40 fatha, 41 shadda, 50..59 Arabic-Indic digits, 32 space
  std::string cmap = "1 begincodespacerange <00> <FF> endcodespacerange\n";
  std::string chars;
  int n = 0;
  char buf[64];
  for (int i = 0; i < 28; ++i) {
    std::snprintf(buf, sizeof buf, "<%02X> <%04X>\n", 1 + i, 0x0628 + (i % 20));
    chars += buf;
    ++n;
  }
  for (auto [code, cp] : {std::pair{40, 0x064E}, {41, 0x0651}, {32, 0x0020}}) {
    std::snprintf(buf, sizeof buf, "<%02X> <%04X>\n", code, cp);
    chars += buf;
    ++n;
  }
  for (int d = 0; d < 10; ++d) {
    std::snprintf(buf, sizeof buf, "<%02X> <%04X>\n", 50 + d, 0x0660 + d);
    chars += buf;
    ++n;
  }
  cmap += std::to_string(n) + " beginbfchar\n" + chars + "endbfchar\n";
  RawFont f;
  f.info.name = "F1";
  f.info.subtype = "TrueType";
  f.to_unicode = Bytes(cmap.begin(), cmap.end());
  std::vector<RawFont> raw;
  raw.push_back(std::move(f));
  return FontMap::from_raw(std::move(raw));
}

PageGlyphs bench_page(unsigned seed) {
  PageGlyphs page;
  std::srand(seed);
  for (int column = 0; column < 2; ++column) {
    const double x_right = column == 0 ? 560 : 280;
    for (int line = 0; line < 45; ++line) {
      double x = x_right;
      const double y = 800 - line * 16.0;
      while (x > x_right - 240) {
        Glyph g;
        g.style.font = "F1";
        g.style.size = 11;
        g.y = y;
        const int r = std::rand() % 100;
        g.code = r < 12 ? 32 : r < 16 ? static_cast<std::uint32_t>(50 + r % 10) : static_cast<std::uint32_t>(1 + r % 28);
        g.width = g.code == 32 ? 3 : 5.5;
        x -= g.width;
        g.x = x;
        page.glyphs.push_back(g);
        if (r % 3 == 0 && g.code != 32) {
          Glyph mark = g;
          mark.code = r % 2 ? 40 : 41;
          mark.width = 0;
          mark.x = x + 2;
          mark.y = y + 6;
          page.glyphs.push_back(mark);
        }
      }
    }
  }
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc > 1 ? std::atoi(argv[1]) : 200;
  const FontMap fonts = bench_fonts();
  std::vector<PageGlyphs> input;
  std::size_t glyphs = 0;
  for (int p = 0; p < 10; ++p) {
    input.push_back(bench_page(static_cast<unsigned>(p)));
    glyphs += input.back().glyphs.size();
  }
  std::size_t lines = 0, chars = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int p = 0; p < pages; ++p) {
    auto [blocks, page_lines] = blocks::assemble(input[static_cast<std::size_t>(p) % input.size()], fonts);
    lines += page_lines.size();
    for (const Block& b : blocks) chars += b.text().size();
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double glyphs_done = static_cast<double>(glyphs) / static_cast<double>(input.size()) * pages;
  std::printf("%d pages, %zu lines, %.0f glyphs in %.3f s: %.1f pages/s, %.2f M glyphs/s (%zu bytes of text)\n",
              pages, lines, glyphs_done, s, pages / s, glyphs_done / s / 1e6, chars);
  return 0;
}
