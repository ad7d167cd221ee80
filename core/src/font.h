// Fonts and text decoding: ToUnicode CMaps, the per-font model that decides which source
// of Unicode to trust, and the page's FontMap (decoding and glyph widths).
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <span>
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

// One lexical item of a CMap program: a hexadecimal string, an array bracket, or any
// other word (operators, names, numbers, "<<").
struct Token {
  enum class Kind : std::uint8_t { Hex, ArrayOpen, ArrayClose, Word };
  Kind kind = Kind::Word;
  Bytes hex;         // Hex
  std::string word;  // Word
};

// Splits a CMap program into tokens; comments, literal strings and ">>" produce nothing.
std::vector<Token> cmap_tokens(std::span<const std::uint8_t> data);

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

  static CMap parse(std::span<const std::uint8_t> data);
  std::optional<std::string> get(std::uint32_t code) const;
  bool empty() const { return ranges.empty() && chars.empty(); }
};

// Hexadecimal digits to bytes: other bytes are dropped, an odd digit count gets a 0.
Bytes hex_bytes(std::string_view digits);
// Big-endian UTF-16 to UTF-8; a trailing odd byte is ignored, lone surrogates become U+FFFD.

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
  // One-byte codes that no source maps but whose glyph in the embedded simple TrueType
  // program is drawn as a kashida; they decode to U+0640 as a last resort.
  std::bitset<256> kashida_codes;

  static Font from_raw(RawFont raw);
  std::optional<std::string> decode(std::uint32_t code) const;
  // The glyph width in glyph units (thousandths of the type size).
  double glyph_width(std::uint32_t code) const;

  // cid_widths resolved into sorted, disjoint ranges (the first /W entry covering a
  // code wins), so a width is a binary search. Built by from_raw; when it is empty,
  // cid_widths is scanned directly.
  std::vector<CidWidth> cid_width_ranges;
};

// The fonts of one page by resource name; the later of two same-named fonts wins.
class FontMap : public GlyphWidths {
 public:
  std::unordered_map<std::string, Font, StringHash, std::equal_to<>> fonts;

  static FontMap from_raw(std::vector<RawFont> raw);
  std::optional<std::string> decode(std::string_view font, std::uint32_t code) const;
  double width(std::string_view font, std::uint32_t code) const override;
  const Font* find(std::string_view font) const;
};

// Whether the embedded program's character map contradicts the ToUnicode map often
// enough (or on enough Arabic letters) that the ToUnicode map cannot be trusted.
bool to_unicode_is_untrustworthy(const CMap& to_unicode, const GlyphUnicode& glyph_unicode,
                                 const std::optional<std::vector<std::uint16_t>>& cid_to_gid);
// The base Arabic letter (U+0621-U+063A, U+0641-U+064A) a character folds to under NFKC.
std::optional<char32_t> arabic_letter(char32_t c);
// The letter-variant group (kaf, heh, yeh forms) of a character after NFKC, named by its
// first member.
std::optional<char32_t> variant_group(char32_t c);
// a == b, or both have the same NFKC normalisation.
bool same_letter_after_nfkc(char32_t a, char32_t b);
// NFKC normalisation of a character sequence.
std::u32string nfkc(std::u32string_view s);

}  // namespace velko
