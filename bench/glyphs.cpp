// Developer tool: prints the glyphs of one page as the interpreter placed them, with the
// text each decodes to, one glyph a line, in emission order. For diagnosing extraction.
//   bench_glyphs FILE.pdf [PAGE] [MAX]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "content.h"
#include "font.h"
#include "parser.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.pdf [PAGE] [MAX]\n", argv[0]);
    return 2;
  }
  const std::uint32_t page = argc > 2 ? static_cast<std::uint32_t>(std::atoi(argv[2])) : 1;
  const std::size_t max = argc > 3 ? static_cast<std::size_t>(std::atol(argv[3])) : 200;
  auto pdf = velko::Pdf::open(argv[1]);
  if (!pdf) {
    std::fprintf(stderr, "%s\n", pdf.error().message().c_str());
    return 1;
  }
  auto raw = pdf.value().page_raw_fonts(page);
  auto content = pdf.value().page_content(page);
  auto forms = pdf.value().page_forms(page);
  if (!raw || !content || !forms) {
    std::fprintf(stderr, "page %u cannot be read\n", page);
    return 1;
  }
  std::vector<velko::FontInfo> infos;
  for (const auto& f : raw.value()) infos.push_back(f.info);
  velko::FontMap fonts = velko::FontMap::from_raw(std::move(raw).value());
  velko::PageGlyphs g = velko::interpret_with_forms(content.value(), infos, forms.value(), fonts);
  for (const velko::ActualText& a : g.actual_texts) {
    std::printf("# actual text [%zu, %zu) \"%s\"\n", a.start, a.end, a.text.c_str());
  }
  std::printf("# %zu glyphs\n# i font code x y width size rot mode text codepoints\n",
              g.glyphs.size());
  for (std::size_t i = 0; i < g.glyphs.size() && i < max; ++i) {
    const velko::Glyph& gl = g.glyphs[i];
    auto text = fonts.decode(gl.style.font, gl.code);
    std::string cps;
    for (char32_t c : velko::utf8_to_u32(text.value_or(""))) {
      char buf[16];
      std::snprintf(buf, sizeof buf, " U+%04X", static_cast<unsigned>(c));
      cps += buf;
    }
    std::printf("%zu %s %u %.2f %.2f %.3f %.2f %u %u %s%s\n", i, gl.style.font.c_str(), gl.code,
                gl.x, gl.y, gl.width, gl.style.size, gl.rotation,
                static_cast<unsigned>(gl.style.render_mode),
                text ? ("\"" + *text + "\"").c_str() : "(none)", cps.c_str());
  }
  return 0;
}
