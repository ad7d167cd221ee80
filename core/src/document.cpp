#include "document.h"

#include "parser.h"

namespace velko {

std::string Page::text() const { return {}; }

Result<Document> Document::open(const std::string& path) {
  auto opened = Pdf::open(path);
  if (!opened) return opened.error();
  const Pdf& pdf = opened.value();

  Document doc;
  for (const PageInfo& info : pdf.pages()) {
    auto content = pdf.page_content(info.number);
    if (!content) return content.error();

    Page page;
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
    std::string t = page.text();
    if (t.empty()) continue;
    if (!out.empty()) out += "\n\n";
    out += t;
  }
  return out;
}

double Document::confidence() const {
  if (pages.empty()) return 0.0;
  return 0.0;
}

std::vector<std::uint32_t> Document::pages_needing_ocr() const { return {}; }

Result<std::string> extract_text(const std::string& path) {
  auto doc = Document::open(path);
  if (!doc) return doc.error();
  return doc.value().text();
}

}  // namespace velko
