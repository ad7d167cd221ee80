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

// ---------------------------------------------------------------------------------------
// Form XObjects and font resources

namespace velko {

namespace {

// Key of a dictionary as text: without the slash, as lossy UTF-8.
std::string key_text(const std::string& key) {
  return lossy_utf8(std::string_view(key).substr(key.empty() || key[0] != '/' ? 0 : 1));
}

// The entry's value (following one reference) when it is of the kind `is` accepts.
template <class Is>
std::optional<QPDFObjectHandle> entry_if(QPDFObjectHandle dict, std::string_view key, Is is) {
  auto v = lookup(dict, key);
  if (!v) return std::nullopt;
  try {
    if (is(*v)) return v;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

std::optional<QPDFObjectHandle> dict_entry(QPDFObjectHandle dict, std::string_view key) {
  return entry_if(dict, key, [](QPDFObjectHandle& h) { return h.isDictionary(); });
}

std::optional<QPDFObjectHandle> array_entry(QPDFObjectHandle dict, std::string_view key) {
  return entry_if(dict, key, [](QPDFObjectHandle& h) { return h.isArray(); });
}

std::optional<double> number_entry(QPDFObjectHandle dict, std::string_view key) {
  auto v = lookup(dict, key);
  if (!v) return std::nullopt;
  return number_of(*v);
}

// Clamps to 0..4294967295 and truncates; NaN gives 0.
std::uint32_t clamp_u32(double v) {
  if (!(v > 0)) return 0;
  if (v >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(v);
}

std::optional<Bytes> decoded_data(QPDFObjectHandle stream, StreamCache* cache) {
  if (cache == nullptr) return decoded_stream(stream);
  return cache->decoded(stream);
}

std::optional<Bytes> decoded_entry(QPDFObjectHandle dict, std::string_view key,
                                   StreamCache* cache) {
  auto v = entry_if(dict, key, [](QPDFObjectHandle& h) { return h.isStream(); });
  if (!v) return std::nullopt;
  return decoded_data(*v, cache);
}

void read_simple(QPDFObjectHandle dict, RawFont& f, StreamCache* cache) {
  if (auto fc = lookup(dict, "FirstChar"); fc && fc->isInteger()) {
    long long v = fc->getIntValue();
    f.first_char = v < 0 ? 0 : static_cast<std::uint32_t>(static_cast<unsigned long long>(v));
  }
  if (auto w = array_entry(dict, "Widths")) {
    int n = w->getArrayNItems();
    f.widths.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      auto item = resolve(w->getArrayItem(i));
      if (!item) continue;
      if (auto num = number_of(item.value())) f.widths.push_back(*num);
    }
  }
  auto descriptor = dict_entry(dict, "FontDescriptor");
  if (descriptor) {
    if (auto mw = number_entry(*descriptor, "MissingWidth")) f.missing_width = *mw;
  }
  if (auto enc = lookup(dict, "Encoding")) {
    if (enc->isName()) {
      f.base_encoding = key_text(enc->getName());
    } else if (enc->isDictionary()) {
      if (auto base = lookup(*enc, "BaseEncoding"); base && base->isName()) {
        f.base_encoding = key_text(base->getName());
      }
      if (auto diffs = array_entry(*enc, "Differences")) {
        std::int64_t code = 0;
        int n = diffs->getArrayNItems();
        for (int i = 0; i < n; ++i) {
          QPDFObjectHandle item = diffs->getArrayItem(i);
          // Elements are taken as written; a reference is not followed.
          if (item.isIndirect()) continue;
          if (item.isInteger()) {
            long long v = item.getIntValue();
            code = v < 0 ? 0 : v;
          } else if (item.isReal()) {
            code = clamp_u32(*number_of(item));
          } else if (item.isName()) {
            if (code <= 255) {
              f.differences.emplace_back(static_cast<std::uint8_t>(code), key_text(item.getName()));
            }
            if (code < std::numeric_limits<std::int64_t>::max()) ++code;
          }
        }
      }
    }
  }
  if (descriptor) f.font_file3 = decoded_entry(*descriptor, "FontFile3", cache);
  // A simple TrueType program is not a source of text (its glyph ids are not the codes),
  // but its outlines tell kashida glyphs that a producer left without a mapping.
  if (descriptor && f.info.subtype == "TrueType") {
    f.truetype_program = decoded_entry(*descriptor, "FontFile2", cache);
  }
}

// The first descendant font dictionary of a composite font.
std::optional<QPDFObjectHandle> descendant(QPDFObjectHandle dict) {
  auto arr = array_entry(dict, "DescendantFonts");
  if (!arr || arr->getArrayNItems() < 1) return std::nullopt;
  auto d = resolve(arr->getArrayItem(0));
  if (!d || !d.value().isDictionary()) return std::nullopt;
  return d.value();
}

void read_w(QPDFObjectHandle w, std::vector<CidWidth>& out) {
  const int n = w.getArrayNItems();
  auto num = [&](int i) -> std::optional<double> {
    if (i >= n) return std::nullopt;
    auto item = resolve(w.getArrayItem(i));
    if (!item) return std::nullopt;
    return number_of(item.value());
  };
  int i = 0;
  while (i < n) {
    auto c = num(i);
    if (!c) break;
    const std::uint32_t first = clamp_u32(*c);
    if (i + 1 >= n) break;
    auto next = resolve(w.getArrayItem(i + 1));
    if (next && next.value().isArray()) {
      QPDFObjectHandle list = next.value();
      const int m = list.getArrayNItems();
      std::uint64_t code = first;
      for (int k = 0; k < m && code <= 0xFFFFFFFFu; ++k, ++code) {
        auto item = resolve(list.getArrayItem(k));
        if (!item) continue;
        if (auto width = number_of(item.value())) {
          auto c32 = static_cast<std::uint32_t>(code);
          out.push_back({c32, c32, *width});
        }
      }
      i += 2;
    } else {
      auto last = num(i + 1);
      auto width = num(i + 2);
      if (last && width) out.push_back({first, clamp_u32(*last), *width});
      i += 3;
    }
  }
}

void read_composite(QPDFObjectHandle dict, RawFont& f, StreamCache* cache) {
  if (auto d = descendant(dict)) {
    if (auto dw = number_entry(*d, "DW")) f.default_width = *dw;
    if (auto w = resolve(d->getKey("/W")); w && w.value().isArray()) read_w(w.value(), f.cid_widths);
  }
  auto enc = lookup(dict, "Encoding");
  if (!enc || !enc->isName()) return;
  const std::string name = enc->getName();
  if (name != "/Identity-H" && name != "/Identity-V") return;
  auto d = descendant(dict);
  if (!d) return;
  if (auto map = lookup(*d, "CIDToGIDMap"); map && map->isStream()) {
    f.cid_to_gid_map = decoded_data(*map, cache);
  }
  if (auto fd = dict_entry(*d, "FontDescriptor")) {
    f.font_file2 = decoded_entry(*fd, "FontFile2", cache);
  }
}

}  // namespace

Result<std::vector<Pdf::Form>> Pdf::collect_forms(std::uint32_t number) const {
  auto page = page_object(number);
  if (!page) return Error::page_missing(number);
  std::vector<Form> out;
  auto resources = inherited(page->getObjGen(), "Resources");
  try {
    if (!resources || !resources->isDictionary()) return out;
  } catch (const std::exception&) {
    return out;
  }
  std::set<QPDFObjGen> visited;
  walk_forms(*resources, "", 0, visited, out);
  return out;
}

void Pdf::walk_forms(QPDFObjectHandle resources, const std::string& prefix, int depth,
                     std::set<QPDFObjGen>& visited, std::vector<Form>& out) const {
  if (depth > 7) return;
  auto xobjects = dict_entry(resources, "XObject");
  if (!xobjects) return;
  // The object model keeps dictionary keys sorted, so "file order" is ascending name order.
  std::set<std::string> keys;
  try {
    keys = xobjects->getKeys();
  } catch (const std::exception&) {
    return;
  }
  for (const std::string& k : keys) {
    try {
      QPDFObjectHandle value = xobjects->getKey(k);
      if (value.isIndirect()) {
        if (!visited.insert(value.getObjGen()).second) continue;
      }
      auto target = resolve(value);
      if (!target) continue;
      QPDFObjectHandle stream = target.value();
      if (!stream.isStream()) continue;
      QPDFObjectHandle sdict = stream.getDict();
      QPDFObjectHandle subtype = sdict.getKey("/Subtype");
      if (!subtype.isName() || subtype.getName() != "/Form") continue;
      std::string name = prefix + key_text(k);
      QPDFObjectHandle inner = resources;
      if (auto own = dict_entry(sdict, "Resources")) inner = *own;
      out.push_back({name, stream, inner});
      walk_forms(inner, name + "/", depth + 1, visited, out);
    } catch (const std::exception&) {
      // A broken entry is skipped; the rest of the dictionary is still walked.
    }
  }
}

Result<std::vector<RawForm>> Pdf::page_forms(std::uint32_t number) const {
  auto forms = collect_forms(number);
  if (!forms) return forms.error();
  std::vector<RawForm> out;
  out.reserve(forms.value().size());
  for (const Form& f : forms.value()) {
    RawForm raw;
    raw.name = f.name;
    raw.content = decoded_or_raw(f.stream);
    try {
      if (auto m = array_entry(f.stream, "Matrix")) {
        std::vector<double> nums;
        int n = m->getArrayNItems();
        for (int i = 0; i < n; ++i) {
          auto item = resolve(m->getArrayItem(i));
          if (!item) continue;
          if (auto v = number_of(item.value())) nums.push_back(*v);
        }
        if (nums.size() == 6) std::copy(nums.begin(), nums.end(), raw.matrix.begin());
      }
    } catch (const std::exception&) {
    }
    out.push_back(std::move(raw));
  }
  return out;
}

Result<std::vector<RawFont>> Pdf::page_raw_fonts(std::uint32_t number) const {
  auto page = page_object(number);
  if (!page) return Error::page_missing(number);
  std::vector<RawFont> out;
  try {
    if (!page->isDictionary()) return out;
    auto resources = inherited(page->getObjGen(), "Resources");
    if (resources && resources->isDictionary()) {
      if (auto fonts = dict_entry(*resources, "Font")) {
        // getKeys is ordered by std::string comparison: ascending byte order of the names.
        for (const std::string& k : fonts->getKeys()) {
          QPDFObjectHandle f = fonts->getKey(k);
          if (f.isDictionary()) {
            out.push_back(raw_font(key_text(k), f, font_streams_.get()));
          }
        }
      }
    }
  } catch (const std::exception&) {
    return std::vector<RawFont>{};
  }
  auto forms = collect_forms(number);
  if (!forms) return forms.error();
  for (const Form& form : forms.value()) {
    try {
      auto fonts = dict_entry(form.resources, "Font");
      if (!fonts) continue;
      for (const std::string& k : fonts->getKeys()) {
        QPDFObjectHandle f = fonts->getKey(k);
        if (f.isDictionary()) {
          out.push_back(raw_font(form.name + "/" + key_text(k), f, font_streams_.get()));
        }
      }
    } catch (const std::exception&) {
    }
  }
  return out;
}

FontInfo Pdf::font_info(std::string_view name, QPDFObjectHandle dict) {
  FontInfo info;
  info.name = std::string(name);
  info.subtype = name_of(dict, "Subtype").value_or("");
  info.base_font = name_of(dict, "BaseFont");
  info.encoding = name_of(dict, "Encoding");
  try {
    if (dict.hasKey("/ToUnicode")) {
      info.decoding = FontDecoding::HasToUnicode;
    } else if (dict.hasKey("/Encoding")) {
      info.decoding = FontDecoding::HasEncoding;
    }
  } catch (const std::exception&) {
  }
  return info;
}

RawFont Pdf::raw_font(std::string_view name, QPDFObjectHandle dict, StreamCache* cache) {
  RawFont f;
  f.info = font_info(name, dict);
  try {
    f.to_unicode = decoded_entry(dict, "ToUnicode", cache);
    if (f.info.subtype != "Type0") {
      read_simple(dict, f, cache);
    } else {
      read_composite(dict, f, cache);
    }
  } catch (const std::exception&) {
    // Whatever was read before the damage is kept; the rest stays at its default.
  }
  return f;
}

const std::optional<Bytes>& StreamCache::decoded(QPDFObjectHandle stream) {
  QPDFObjGen id;
  try {
    id = stream.getObjGen();
  } catch (const std::exception&) {
  }
  if (id.getObj() == 0) {
    direct_ = decoded_stream(stream);
    return direct_;
  }
  auto it = by_object_.find(id);
  if (it == by_object_.end()) it = by_object_.emplace(id, decoded_stream(stream)).first;
  return it->second;
}

}  // namespace velko
