// The engine's entry point and only driver: opens a PDF, takes every page through all
// stages in a fixed order, and keeps only the finished pages. A Document is immutable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "arabic.h"
#include "blocks.h"
#include "detect.h"
#include "error.h"
#include "types.h"

namespace velko {

// The finished result for one page.
struct Page {
  std::vector<TextLine> lines;  // reconstructed lines, in reading order
  Assessment assessment;
  std::vector<Block> blocks;    // in reading order
  double width = 0;
  double height = 0;
  std::uint32_t number = 0;
  bool tagged = false;
  std::uint8_t rotation = 0;  // quarter turns clockwise

  // The non-empty texts of the page's blocks, joined by line feeds.
  std::string text() const;
  bool needs_ocr() const { return assessment.verdict == Verdict::NeedsOcr; }
};

class Document {
 public:
  std::vector<Page> pages;

  static Result<Document> open(const std::string& path);

  // Pages not needing OCR, non-empty ones only, separated by a blank line.
  std::string text() const;
  // Mean of the page confidences (a page needing OCR counts as 0); 0 without pages.
  double confidence() const;
  std::vector<std::uint32_t> pages_needing_ocr() const;
};

// One call: open the document and return its text.
Result<std::string> extract_text(const std::string& path);

}  // namespace velko
