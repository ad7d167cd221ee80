#include "pdf_builder.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace velko::test {

int PdfBuilder::reserve() { return next_++; }

void PdfBuilder::set(int n, const std::string& body) { objects_[n] = body; }

int PdfBuilder::add(const std::string& body) {
  int n = reserve();
  set(n, body);
  return n;
}

void PdfBuilder::set_stream(int n, const std::string& dict, const std::string& data, bool flate) {
  std::string payload = flate ? deflate(data) : data;
  std::string body = "<< " + dict + (flate ? " /Filter /FlateDecode" : "") +
                     " /Length " + std::to_string(payload.size()) + " >>\nstream\n" + payload +
                     "\nendstream";
  set(n, body);
}

int PdfBuilder::add_stream(const std::string& dict, const std::string& data, bool flate) {
  int n = reserve();
  set_stream(n, dict, data, flate);
  return n;
}

std::string PdfBuilder::build(int root, const std::string& trailer_extra) const {
  std::string out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
  int size = next_;
  std::vector<long> offsets(size, -1);
  for (const auto& [n, body] : objects_) {
    offsets[n] = static_cast<long>(out.size());
    out += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
  }
  long xref = static_cast<long>(out.size());
  out += "xref\n0 " + std::to_string(size) + "\n";
  char line[32];
  std::snprintf(line, sizeof line, "%010d %05d f \n", 0, 65535);
  out += line;
  for (int n = 1; n < size; ++n) {
    if (offsets[n] < 0) {
      std::snprintf(line, sizeof line, "%010d %05d f \n", 0, 0);
    } else {
      std::snprintf(line, sizeof line, "%010ld %05d n \n", offsets[n], 0);
    }
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(size) + " /Root " + std::to_string(root) +
         " 0 R " + trailer_extra + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string PdfBuilder::write(int root) const { return temp_file(build(root)); }

std::string simple_pdf(PdfBuilder& b, const std::vector<PageSpec>& pages,
                       const std::string& pages_entries) {
  int catalog = b.reserve();
  int tree = b.reserve();
  std::string kids;
  for (const PageSpec& p : pages) {
    int content = b.add_stream("", p.content);
    int page = b.add("<< /Type /Page /Parent " + std::to_string(tree) + " 0 R /Contents " +
                     std::to_string(content) + " 0 R " + p.entries + " >>");
    kids += std::to_string(page) + " 0 R ";
  }
  b.set(tree, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) +
                  " " + pages_entries + " >>");
  b.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>");
  return b.write(catalog);
}

std::string simple_pdf(const std::vector<PageSpec>& pages, const std::string& pages_entries) {
  PdfBuilder b;
  return simple_pdf(b, pages, pages_entries);
}

std::string deflate(const std::string& data) {
  uLongf len = compressBound(data.size());
  std::string out(len, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &len,
                reinterpret_cast<const Bytef*>(data.data()), data.size(), 6) != Z_OK) {
    throw std::runtime_error("deflate failed");
  }
  out.resize(len);
  return out;
}

std::string temp_file(const std::string& bytes, const std::string& suffix) {
  std::string tmpl = "/tmp/velko-test-XXXXXX" + suffix;
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) throw std::runtime_error("mkstemps failed");
  close(fd);
  std::ofstream f(name.data(), std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return name.data();
}

std::string utf16_hex(const std::u32string& text) {
  std::string out = "<FEFF";
  char buf[8];
  for (char32_t c : text) {
    if (c >= 0x10000) {
      char32_t v = c - 0x10000;
      std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(0xD800 + (v >> 10)));
      out += buf;
      std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
    } else {
      std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(c));
    }
    out += buf;
  }
  return out + ">";
}

}  // namespace velko::test
