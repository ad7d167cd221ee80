// The PDF access layer: the engine's only door to the file. A forgiving layer over qpdf
// that answers narrow questions (pages, inherited attributes, content, forms, fonts) and
// copies out what it returns. Missing or malformed entries degrade to "absent" or a
// default; only opening the file and asking for a page that does not exist are errors.
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "types.h"

namespace velko {

// Decoded stream data by object, so that a font program or ToUnicode map shared by many
// pages is inflated once per document; what the access layer returns is still a copy.
class StreamCache {
 public:
  // The stream's data decoded through its filters, or absent when decoding fails.
  const std::optional<Bytes>& decoded(QPDFObjectHandle stream);

 private:
  std::map<QPDFObjGen, std::optional<Bytes>> by_object_;
  std::optional<Bytes> direct_;  // a stream that is not an indirect object is not kept
};

class Pdf {
 public:
  // Opens and loads a document (recovery on, empty password, warnings silenced).
  static Result<Pdf> open(const std::string& path);

  // One PageInfo per page, ascending page number.
  std::vector<PageInfo> pages() const;
  PageInfo page_info(std::uint32_t number, QPDFObjGen id) const;

  // The page's content streams, decoded and concatenated in order.
  Result<Bytes> page_content(std::uint32_t number) const;

  // A page attribute, looked up the page tree through /Parent (at most 64 levels).
  std::optional<QPDFObjectHandle> inherited(QPDFObjGen id, std::string_view key) const;

  // The page object for a 1-based page number, if the document has that page.
  std::optional<QPDFObjectHandle> page_object(std::uint32_t number) const;
  std::size_t page_count() const { return pages_.size(); }

  // A form XObject found in a page's resources.
  struct Form {
    std::string name;              // qualified: resource names from the page down, "/"-joined
    QPDFObjectHandle stream;       // the form's stream
    QPDFObjectHandle resources;    // its own /Resources, else those of the level it was found in
  };
  // Every form XObject reachable from the page's resources, depth first, each object once.
  Result<std::vector<Form>> collect_forms(std::uint32_t number) const;
  // One level of the walk: forms of `resources`' /XObject dictionary and, recursively,
  // their nested forms (depths 0 to 7 are collected).
  void walk_forms(QPDFObjectHandle resources, const std::string& prefix, int depth,
                  std::set<QPDFObjGen>& visited, std::vector<Form>& out) const;
  // The page's forms copied out: qualified name, decoded content, /Matrix.
  Result<std::vector<RawForm>> page_forms(std::uint32_t number) const;

  // The page's fonts (own resources, ascending name order) followed by its forms' fonts,
  // named Fm0/F1.
  Result<std::vector<RawFont>> page_raw_fonts(std::uint32_t number) const;
  static FontInfo font_info(std::string_view name, QPDFObjectHandle dict);
  // Everything the font model needs from one font dictionary; never fails.
  static RawFont raw_font(std::string_view name, QPDFObjectHandle dict,
                          StreamCache* cache = nullptr);

 private:
  std::unique_ptr<QPDF> qpdf_;
  std::unique_ptr<StreamCache> font_streams_ = std::make_unique<StreamCache>();
  std::vector<QPDFObjectHandle> pages_;
};

// Dictionary entry, following one reference; absent when missing, null or dangling.
std::optional<QPDFObjectHandle> lookup(QPDFObjectHandle dict, std::string_view key);
// A reference yields its target (a dangling one yields Malformed); anything else itself.
Result<QPDFObjectHandle> resolve(QPDFObjectHandle obj);
// A name given directly (no reference followed), as lossy UTF-8 without the slash.
std::optional<std::string> name_of(QPDFObjectHandle dict, std::string_view key);
// The filter names of a /Filter value.
std::vector<std::string> filters_of(QPDFObjectHandle obj);
// Filters whose output is an image file format rather than samples.
bool is_image_codec(std::string_view name);

// Helpers shared by the access layer's readers.
// A number object read at single precision (how the object model stores reals) and widened.
std::optional<double> number_of(QPDFObjectHandle obj);
// Stream data decoded through all its filters, or absent when decoding fails.
std::optional<Bytes> decoded_stream(QPDFObjectHandle stream);
// Decoded data, or the stored bytes when decoding fails.
Bytes decoded_or_raw(QPDFObjectHandle stream);

}  // namespace velko
