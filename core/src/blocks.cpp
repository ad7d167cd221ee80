#include "blocks.h"

#include "font.h"

namespace velko {

std::string TextBlock::text() const { return arabic::lines_to_text(lines); }

std::string Block::text() const {
  return std::visit([](const auto& b) { return b.text(); }, value);
}

std::size_t Block::reading_index() const {
  return std::visit([](const auto& b) { return b.reading_index; }, value);
}

namespace blocks {

namespace {

TextBlock text_block(std::vector<TextLine> lines, const Rect& region_box, std::size_t index) {
  std::size_t unresolved = 0, glyphs = 0;
  for (const TextLine& l : lines) {
    unresolved += l.unresolved;
    glyphs += l.glyphs;
  }
  TextBlock b;
  b.confidence = glyphs == 0 ? 1.0
                             : 1.0 - static_cast<double>(unresolved) / static_cast<double>(glyphs);
  b.lines = std::move(lines);
  b.bbox = region_box;
  b.reading_index = index;
  return b;
}

}  // namespace

std::pair<std::vector<Block>, std::vector<TextLine>> assemble(const PageGlyphs& page,
                                                              const FontMap& fonts) {
  std::vector<Region> regions = arabic::reconstruct_regions(page, fonts, {});

  std::vector<TextLine> all_lines;
  std::size_t total = 0;
  for (const Region& r : regions) total += r.lines.size();
  all_lines.reserve(total);
  for (const Region& r : regions) all_lines.insert(all_lines.end(), r.lines.begin(), r.lines.end());

  // Every region's lines form one text block, in region order; the page's lines above
  // keep their own copies.
  std::vector<Block> out;
  out.reserve(regions.size());
  for (Region& r : regions) {
    if (r.lines.empty()) continue;
    out.push_back(Block{text_block(std::move(r.lines), r.bbox, out.size())});
  }
  return {std::move(out), std::move(all_lines)};
}

}  // namespace blocks
}  // namespace velko
