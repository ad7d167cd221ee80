#include "document.h"

#include "content.h"
#include "font.h"
#include "parser.h"

namespace velko {

std::string Page::text() const {
  std::string out;
  for (const Block& b : blocks) {
    std::string t = b.text();
    if (t.empty()) continue;
    if (!out.empty()) out += '\n';
    out += t;
  }
  return out;
}

Result<Document> Document::open(const std::string& path) {
  auto opened = Pdf::open(path);
  if (!opened) return opened.error();
  const Pdf& pdf = opened.value();

  Document doc;
  for (const PageInfo& info : pdf.pages()) {
    const std::uint32_t n = info.number;
    // Fonts first: the interpreter needs the font summaries (to tell two-byte fonts)
    // and the font map (for widths).
    auto raw_fonts = pdf.page_raw_fonts(n);
    if (!raw_fonts) return raw_fonts.error();
    std::vector<FontInfo> font_infos;
    font_infos.reserve(raw_fonts.value().size());
    for (const RawFont& f : raw_fonts.value()) font_infos.push_back(f.info);
    FontMap fonts = FontMap::from_raw(std::move(raw_fonts).value());

    auto content = pdf.page_content(n);
    if (!content) return content.error();
    auto forms = pdf.page_forms(n);
    if (!forms) return forms.error();
    PageGlyphs glyphs = interpret_with_forms(content.value(), font_infos, forms.value(), fonts);

    auto [blocks, lines] = blocks::assemble(glyphs, fonts);
    Assessment assessment = assess(n, glyphs, fonts, lines);

    Page page;
    page.lines = std::move(lines);
    page.assessment = std::move(assessment);
    page.blocks = std::move(blocks);
    page.width = info.media_box.x1 - info.media_box.x0;
    page.height = info.media_box.y1 - info.media_box.y0;
    page.number = info.number;
    page.rotation = info.rotation;
    doc.pages.push_back(std::move(page));
  }
  return doc;
}

std::string Document::text() const {
  std::string out;
  for (const Page& page : pages) {
    if (page.needs_ocr()) continue;
    std::string t = page.text();
    if (t.empty()) continue;
    if (!out.empty()) out += "\n\n";
    out += t;
  }
  return out;
}

double Document::confidence() const {
  if (pages.empty()) return 0.0;
  double sum = 0.0;
  for (const Page& page : pages) sum += page.assessment.confidence;
  return sum / static_cast<double>(pages.size());
}

std::vector<std::uint32_t> Document::pages_needing_ocr() const {
  std::vector<std::uint32_t> out;
  for (const Page& page : pages) {
    if (page.needs_ocr()) out.push_back(page.number);
  }
  return out;
}

Result<std::string> extract_text(const std::string& path) {
  auto doc = Document::open(path);
  if (!doc) return doc.error();
  return doc.value().text();
}

}  // namespace velko
