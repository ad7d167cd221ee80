// Page segmentation by recursive XY-cut: a page's glyph and figure boxes are split along
// the widest empty gaps into groups (columns, paragraphs, captions, figures), returned in
// reading order. Every threshold is measured in the group's median type size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace velko {

// One box to be segmented (points, y up). A figure carries the page's median text size.
struct Item {
  double x0 = 0;
  double x1 = 0;
  double y0 = 0;
  double y1 = 0;
  double size = 0;
};

namespace layout {

// IEEE 754 total order of doubles: -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN. Sorting
// by it never meets the inconsistency that NaN brings to `<`.
inline std::int64_t total_order_key(double d) {
  std::int64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  // Negative values sort in reverse of their magnitude bits: flip all but the sign.
  bits ^= static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
  return bits;
}
inline bool total_less(double a, double b) { return total_order_key(a) < total_order_key(b); }

// A group: indices into the caller's item slice, in the order given.
using Group = std::vector<std::size_t>;

// An empty band between boxes: its width (positive) and the coordinate where it starts.
struct Gap {
  double width = 0;
  double start = 0;
};

// Which extent of an item a gap is sought along.
enum class Axis : std::uint8_t {
  Horizontal,  // x0..x1: a gap here separates columns
  Vertical,    // y0..y1: a gap here separates stacked rows
};

// Recursion stops at this depth: at most this many nested cuts.
inline constexpr std::size_t kMaxDepth = 24;

// Splits the items into groups in reading order; `rtl` puts right-hand columns first.
std::vector<Group> segment(std::span<const Item> items, bool rtl);

// One step of the recursion over `group`; appends the groups it yields to `out`.
void cut(std::span<const Item> items, Group group, bool rtl, std::size_t depth,
         std::vector<Group>& out);

// The widest gap along `axis` with at least `min_side` of extent on both sides.
std::optional<Gap> widest_gap(std::span<const Item> items, const Group& group, Axis axis,
                              double min_side);

// The upper median of the group's sizes, or 10 when that is not a positive number.
double median_size(std::span<const Item> items, const Group& group);

}  // namespace layout
}  // namespace velko
