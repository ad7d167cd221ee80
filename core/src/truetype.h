// TrueType glyph-to-Unicode recovery: inverts an embedded program's character map into
// one character per glyph, extended to tatweel (kashida) glyphs of other lengths.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace velko {

// Glyph id -> the one Unicode character chosen for it. Stored densely by glyph id
// (glyph ids are 16-bit, so the table is bounded), which keeps lookups to one index.
class GlyphUnicode {
 public:
  std::optional<char32_t> get(std::uint16_t glyph) const {
    if (glyph >= by_glyph_.size() || by_glyph_[glyph] == kNone) return std::nullopt;
    return by_glyph_[glyph];
  }
  bool contains(std::uint16_t glyph) const { return get(glyph).has_value(); }
  void set(std::uint16_t glyph, char32_t c);
  bool empty() const { return count_ == 0; }
  std::size_t size() const { return count_; }

  // Calls f(glyph, character) for every entry, in ascending glyph order.
  template <class F>
  void for_each(F&& f) const {
    for (std::size_t g = 0; g < by_glyph_.size(); ++g)
      if (by_glyph_[g] != kNone) f(std::uint16_t(g), by_glyph_[g]);
  }
  // All (glyph, character) pairs, in ascending glyph order.
  std::vector<std::pair<std::uint16_t, char32_t>> iter() const;

 private:
  static constexpr char32_t kNone = 0xFFFFFFFF;
  std::vector<char32_t> by_glyph_;
  std::size_t count_ = 0;
};

// The first four values of a glyph's glyf record (xMax is not part of it).
struct OutlineHeader {
  std::int16_t contours = 0;
  std::int16_t x_min = 0;
  std::int16_t y_min = 0;
  std::int16_t y_max = 0;
  friend bool operator==(const OutlineHeader&, const OutlineHeader&) = default;
};

// Bytes of the table with the given four-byte tag, or nothing.
std::optional<std::span<const std::uint8_t>> table(std::span<const std::uint8_t> font,
                                                   std::string_view tag);

GlyphUnicode glyph_unicode(std::span<const std::uint8_t> font);

std::optional<OutlineHeader> glyph_outline(std::span<const std::uint8_t> font,
                                           std::uint16_t glyph);

// The glyph ids of the 256 one-byte codes of a simple TrueType font, through the program's
// own byte-code character map: (3,0) symbol, codes at 0xF000 + code or at the code itself,
// else (1,0) Macintosh. 0 where the program maps nothing.
std::array<std::uint16_t, 256> simple_code_glyphs(std::span<const std::uint8_t> font);

// Whether a glyph is drawn as a kashida: one contour forming a flat bar that sits on the
// baseline, at least two and a half times as long as it is thick.
bool is_baseline_bar(std::span<const std::uint8_t> font, std::uint16_t glyph);

}  // namespace velko
