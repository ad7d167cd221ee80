#include "parser.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFExc.hh>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velko {

namespace {

std::string key_name(std::string_view key) {
  std::string k;
  k.reserve(key.size() + 1);
  k.push_back('/');
  k.append(key);
  return k;
}

Bytes buffer_bytes(const std::shared_ptr<Buffer>& buf) {
  if (!buf) return {};
  const auto* p = buf->getBuffer();
  return Bytes(p, p + buf->getSize());
}

bool is_null_like(QPDFObjectHandle& h) {
  // A dangling reference reads as null in the object model; so does an explicit null.
  try {
    return !h.isInitialized() || h.isNull();
  } catch (const std::exception&) {
    return true;
  }
}

}  // namespace

Result<Pdf> Pdf::open(const std::string& path) {
  // The OS check comes first so an unreadable path is reported as such (with errno), not
  // as whatever the PDF library makes of it. A directory opens fine on POSIX, so it is
  // caught here too rather than surfacing as a confusing parse error.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Error::io(path, errno);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Error::io(path, EISDIR);
  }
  ::close(fd);

  Pdf pdf;
  pdf.qpdf_ = std::make_unique<QPDF>();
  try {
    pdf.qpdf_->setSuppressWarnings(true);
    pdf.qpdf_->setAttemptRecovery(true);
    pdf.qpdf_->processFile(path.c_str(), "");
    pdf.pages_ = pdf.qpdf_->getAllPages();
  } catch (const std::exception& e) {
    return Error::malformed(e.what());
  }
  return pdf;
}

std::optional<QPDFObjectHandle> Pdf::page_object(std::uint32_t number) const {
  if (number == 0 || number > pages_.size()) return std::nullopt;
  return pages_[number - 1];
}

std::vector<PageInfo> Pdf::pages() const {
  std::vector<PageInfo> out;
  out.reserve(pages_.size());
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    QPDFObjectHandle page = pages_[i];
    out.push_back(page_info(static_cast<std::uint32_t>(i + 1), page.getObjGen()));
  }
  return out;
}

PageInfo Pdf::page_info(std::uint32_t number, QPDFObjGen id) const {
  PageInfo info;
  info.number = number;
  if (auto box = inherited(id, "MediaBox"); box && box->isArray() && box->getArrayNItems() == 4) {
    double v[4];
    bool good = true;
    for (int i = 0; i < 4 && good; ++i) {
      auto item = resolve(box->getArrayItem(i));
      std::optional<double> n;
      if (item) n = number_of(item.value());
      if (n) {
        v[i] = *n;
      } else {
        good = false;
      }
    }
    if (good) {
      info.media_box = Rect{std::min(v[0], v[2]), std::min(v[1], v[3]), std::max(v[0], v[2]),
                            std::max(v[1], v[3])};
    }
  }
  if (auto rot = inherited(id, "Rotate"); rot && rot->isInteger()) {
    long long r = rot->getIntValue() % 360;
    if (r < 0) r += 360;
    info.rotation = r == 90 ? 1 : r == 180 ? 2 : r == 270 ? 3 : 0;
  }
  return info;
}

std::optional<QPDFObjectHandle> Pdf::inherited(QPDFObjGen id, std::string_view key) const {
  const std::string k = key_name(key);
  for (int level = 0; level < 64; ++level) {
    QPDFObjectHandle dict;
    try {
      dict = qpdf_->getObject(id);
      if (!dict.isDictionary()) return std::nullopt;
      if (dict.hasKey(k)) {
        QPDFObjectHandle v = dict.getKey(k);
        if (is_null_like(v)) return std::nullopt;
        return v;
      }
      QPDFObjectHandle parent = dict.getKey("/Parent");
      if (!parent.isIndirect()) return std::nullopt;
      id = parent.getObjGen();
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

Result<Bytes> Pdf::page_content(std::uint32_t number) const {
  auto page = page_object(number);
  if (!page) return Error::page_missing(number);
  Bytes out;
  auto append_stream = [&](QPDFObjectHandle s) {
    if (!s.isStream()) return;
    Bytes data = decoded_or_raw(s);
    // Streams of one page split only at token boundaries; a line feed between them keeps
    // the last token of one from running into the first of the next.
    if (!out.empty()) out.push_back('\n');
    out.insert(out.end(), data.begin(), data.end());
  };
  try {
    QPDFObjectHandle contents = page->getKey("/Contents");
    if (contents.isArray()) {
      int n = contents.getArrayNItems();
      for (int i = 0; i < n; ++i) append_stream(contents.getArrayItem(i));
    } else {
      append_stream(contents);
    }
  } catch (const std::exception&) {
    // A broken /Contents leaves whatever was read so far.
  }
  return out;
}

std::optional<QPDFObjectHandle> lookup(QPDFObjectHandle dict, std::string_view key) {
  try {
    if (!dict.isDictionary() && !dict.isStream()) return std::nullopt;
    QPDFObjectHandle d = dict.isStream() ? dict.getDict() : dict;
    QPDFObjectHandle v = d.getKey(key_name(key));
    if (is_null_like(v)) return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Result<QPDFObjectHandle> resolve(QPDFObjectHandle obj) {
  // Handles from the object model are transparent: an indirect handle already behaves as
  // its target. A reference to a missing object reads as null, which is the failure case.
  try {
    if (obj.isIndirect() && obj.isNull()) {
      return Error::malformed("dangling reference " + obj.getObjGen().unparse(' '));
    }
  } catch (const std::exception& e) {
    return Error::malformed(e.what());
  }
  return obj;
}

std::optional<std::string> name_of(QPDFObjectHandle dict, std::string_view key) {
  try {
    if (!dict.isDictionary() && !dict.isStream()) return std::nullopt;
    QPDFObjectHandle d = dict.isStream() ? dict.getDict() : dict;
    QPDFObjectHandle v = d.getKey(key_name(key));
    if (v.isIndirect() || !v.isName()) return std::nullopt;
    std::string n = v.getName();
    return lossy_utf8(std::string_view(n).substr(n.empty() ? 0 : 1));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::vector<std::string> filters_of(QPDFObjectHandle obj) {
  std::vector<std::string> out;
  try {
    auto name = [](QPDFObjectHandle h) {
      std::string n = h.getName();
      return lossy_utf8(std::string_view(n).substr(n.empty() ? 0 : 1));
    };
    if (obj.isName()) {
      out.push_back(name(obj));
    } else if (obj.isArray()) {
      int n = obj.getArrayNItems();
      for (int i = 0; i < n; ++i) {
        auto item = resolve(obj.getArrayItem(i));
        if (item && item.value().isName()) out.push_back(name(item.value()));
      }
    }
  } catch (const std::exception&) {
  }
  return out;
}

bool is_image_codec(std::string_view name) {
  return name == "DCTDecode" || name == "DCT" || name == "JPXDecode" || name == "JBIG2Decode" ||
         name == "CCITTFaxDecode" || name == "CCF";
}

std::optional<double> number_of(QPDFObjectHandle obj) {
  try {
    if (obj.isInteger()) return static_cast<double>(static_cast<float>(obj.getIntValue()));
    if (obj.isReal()) return static_cast<double>(static_cast<float>(obj.getNumericValue()));
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::optional<Bytes> decoded_stream(QPDFObjectHandle stream) {
  try {
    if (!stream.isStream()) return std::nullopt;
    std::shared_ptr<Buffer> buf;
    // pipeStreamData reports whether every filter could be undone; getStreamData would
    // throw for unsupported filters, which is the same answer.
    buf = stream.getStreamData(qpdf_dl_generalized);
    return buffer_bytes(buf);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

Bytes decoded_or_raw(QPDFObjectHandle stream) {
  if (auto d = decoded_stream(stream)) return std::move(*d);
  try {
    return buffer_bytes(stream.getRawStreamData());
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace velko
