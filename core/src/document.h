// The engine's entry point and only driver: opens a PDF, takes every page through all
// stages in a fixed order, and keeps only the finished pages. A Document is immutable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "error.h"
#include "types.h"

namespace velko {

// The finished result for one page.
struct Page {
  double width = 0;
  double height = 0;
  std::uint32_t number = 0;
  bool tagged = false;
  std::uint8_t rotation = 0;  // quarter turns clockwise

  std::string text() const;
};

class Document {
 public:
  std::vector<Page> pages;

  static Result<Document> open(const std::string& path);

  std::string text() const;
  double confidence() const;
  std::vector<std::uint32_t> pages_needing_ocr() const;
};

// One call: open the document and return its text.
Result<std::string> extract_text(const std::string& path);

}  // namespace velko
