// Fonts and text decoding: ToUnicode CMaps, the per-font model that decides which source
// of Unicode to trust, and the page's FontMap (decoding and glyph widths).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "encoding.h"
#include "truetype.h"
#include "types.h"

namespace velko {

// One bfrange entry: codes lo..hi map to a running text or to an array of texts.
struct BfRange {
  std::variant<std::string, std::vector<std::string>> dst;  // Text or Array
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
};

// A parsed ToUnicode CMap. Empty means "no ToUnicode".
class CMap {
 public:
  std::vector<BfRange> ranges;
  std::unordered_map<std::uint32_t, std::string> chars;

  static CMap parse(const Bytes& data);
  std::optional<std::string> get(std::uint32_t code) const;
  bool empty() const { return ranges.empty() && chars.empty(); }
};

Bytes hex_bytes(std::string_view digits);
std::string utf16be_to_string(const Bytes& bytes);

// One decoded font of a page.
class Font {
 public:
  std::string name;
  CMap to_unicode;
  std::vector<double> widths;
  std::vector<CidWidth> cid_widths;
  std::optional<std::vector<std::uint16_t>> cid_to_gid;
  Encoding encoding;
  std::unordered_map<std::uint32_t, std::string> cff_names;
  std::unordered_map<std::uint32_t, std::string> overrides;
  GlyphUnicode glyph_unicode;
  double missing_width = 0;
  double default_width = 1000;
  std::uint32_t first_char = 0;
  bool untrustworthy = false;
  bool two_byte = false;

  static Font from_raw(RawFont raw);
  std::optional<std::string> decode(std::uint32_t code) const;
};

// The fonts of one page by resource name; the later of two same-named fonts wins.
class FontMap : public GlyphWidths {
 public:
  std::unordered_map<std::string, Font> fonts;

  static FontMap from_raw(std::vector<RawFont> raw);
  std::optional<std::string> decode(std::string_view font, std::uint32_t code) const;
  double width(std::string_view font, std::uint32_t code) const override;
  const Font* find(std::string_view font) const;
};

bool to_unicode_is_untrustworthy(const CMap& to_unicode, const GlyphUnicode& glyph_unicode,
                                 const std::optional<std::vector<std::uint16_t>>& cid_to_gid);
std::optional<char32_t> arabic_letter(char32_t c);
std::optional<char32_t> variant_group(char32_t c);
bool same_letter_after_nfkc(char32_t a, char32_t b);

}  // namespace velko
