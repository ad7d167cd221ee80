// Simple-font encodings (built-in base encodings plus /Differences) and the rules that
// turn PostScript glyph names into Unicode text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velko {

// The built-in code table a simple font starts from. PDFDocEncoding shares the
// Standard table: only its printable ASCII part is decoded.
enum class BaseEncoding : std::uint8_t { WinAnsi, MacRoman, Standard };

// The per-font decoder of a simple font: /Differences first, then the base encoding.
class Encoding {
 public:
  std::unordered_map<std::uint8_t, std::string> differences;
  std::optional<BaseEncoding> base;

  // `base_name` is the /Encoding or /BaseEncoding name; unknown names mean no base.
  static Encoding make(const std::optional<std::string>& base_name,
                       const std::vector<std::pair<std::uint8_t, std::string>>& differences);

  // Text of a one-byte code; codes of 256 and above never decode.
  std::optional<std::string> decode(std::uint32_t code) const;

  // The base table's character for a code, without consulting the differences.
  static std::optional<char32_t> base_char(BaseEncoding base, std::uint8_t code);
};

std::optional<BaseEncoding> base_encoding_from_name(std::string_view name);

// Hash that lets string-keyed maps be searched with a string_view, without allocating.
struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

using GlyphList = std::unordered_map<std::string, std::string, StringHash, std::equal_to<>>;

// The Adobe Glyph List, parsed once on first use (thread-safe) and shared read-only.
const GlyphList& glyph_list();

// Parses text in the glyph-list format ("name;XXXX XXXX", '#' comments).
GlyphList parse_glyph_list(std::string_view text);

// Text of a glyph name (alefarabic, uni0627, u1EE00, lam_alef, a.sc), or nothing.
std::optional<std::string> glyph_name_to_string(std::string_view name);

// Text of one '_'-separated component of a glyph name, or nothing.
std::optional<std::string> component_to_string(std::string_view component);

}  // namespace velko
