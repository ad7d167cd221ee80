// Embedded CFF programs (/FontFile3): just enough of the Compact Font Format to learn
// which glyph name the program's own encoding gives each one-byte code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velko::cff {

using Span = std::span<const std::uint8_t>;

// An INDEX located in the program. Element k occupies offsets[k] .. offsets[k + 1]
// (absolute positions, all within the program).
struct Index {
  std::vector<std::size_t> offsets;
  Span data;
  std::size_t end = 0;

  static std::optional<Index> read(Span data, std::size_t pos);
  std::size_t count() const { return offsets.empty() ? 0 : offsets.size() - 1; }
  // Element k, or nothing when k is out of range.
  std::optional<Span> element(std::size_t k) const;
};

// DICT operator (12 x is 0x0C00 + x) -> its integer operands. Real operands are skipped.
using Dict = std::unordered_map<std::uint16_t, std::vector<std::int32_t>>;
Dict parse_dict(Span dict);

// The glyph name of every code the program's custom encoding assigns; empty when the
// program is CID-keyed, uses a predefined encoding, or cannot be read.
std::unordered_map<std::uint32_t, std::string> glyph_names(Span program);

// Standard string (SID 0-390) or element sid - 391 of the String INDEX.
std::optional<std::string> sid_to_name(std::uint32_t sid, const Index& strings);

// SIDs by glyph id (glyph 0 is always SID 0), or nothing.
std::optional<std::vector<std::uint16_t>> read_charset(Span program, bool present,
                                                       std::size_t offset,
                                                       std::size_t glyph_count);

// (code, glyph id) pairs of a custom encoding; empty for the predefined ones; or nothing.
std::optional<std::vector<std::pair<std::uint8_t, std::uint16_t>>> read_encoding(
    Span program, bool present, std::size_t offset, std::size_t glyph_count);

}  // namespace velko::cff

namespace velko {
using cff::glyph_names;
}
