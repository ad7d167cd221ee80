// Builds small PDF files for tests: objects are written exactly as given, so a test can
// state precisely the structure a case needs (inheritance, broken entries, forms, fonts).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velko::test {

class PdfBuilder {
 public:
  // Reserves an object number to fill in later with set() (for cycles and forward refs).
  int reserve();
  // Sets object n's body (everything between "n 0 obj" and "endobj").
  void set(int n, const std::string& body);
  // Adds an object and returns its number.
  int add(const std::string& body);
  // Adds a stream; `dict` holds extra dictionary entries (without << >>); /Length is
  // written by the builder. With `flate` the data is compressed and /Filter set.
  int add_stream(const std::string& dict, const std::string& data, bool flate = false);
  void set_stream(int n, const std::string& dict, const std::string& data, bool flate = false);

  // The whole file with a correct cross-reference table; `trailer_extra` is added to the
  // trailer dictionary (e.g. an /Encrypt entry).
  std::string build(int root, const std::string& trailer_extra = "") const;
  // Writes build() to a fresh temporary file and returns its path.
  std::string write(int root) const;

 private:
  std::map<int, std::string> objects_;
  int next_ = 1;
};

// A page of a simple document: its content stream and the dictionary entries it adds
// (e.g. "/MediaBox [0 0 612 792] /Resources << ... >>").
struct PageSpec {
  std::string content;
  std::string entries;
};

// A catalog, one /Pages node (carrying `pages_entries`) and the given pages.
// Extra objects (fonts, forms) can be added to `b` first and referenced in the specs.
std::string simple_pdf(PdfBuilder& b, const std::vector<PageSpec>& pages,
                       const std::string& pages_entries = "");
std::string simple_pdf(const std::vector<PageSpec>& pages, const std::string& pages_entries = "");

// Zlib-compresses data (for FlateDecode streams).
std::string deflate(const std::string& data);

// Writes bytes to a fresh temporary file; returns its path.
std::string temp_file(const std::string& bytes, const std::string& suffix = ".pdf");

// A PDF text string as UTF-16BE hex with BOM, e.g. <FEFF0627>.
std::string utf16_hex(const std::u32string& text);

}  // namespace velko::test
