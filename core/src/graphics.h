// Graphics state of the content interpreter: the part saved by q and restored by Q,
// plus the bounded stack that holds the saved states.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "types.h"

namespace velko {

// Affine matrix (a, b, c, d, e, f) in the PDF row-vector convention: a point (x, y) maps to
// (a*x + c*y + e, b*x + d*y + f).
using Matrix = std::array<double, 6>;

inline constexpr Matrix kIdentity{1, 0, 0, 1, 0, 0};

// m × n: applies m first, then n.
Matrix multiply(const Matrix& m, const Matrix& n);

struct Point {
  double x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

inline Point apply(const Matrix& m, double x, double y) {
  return {m[0] * x + m[2] * y + m[4], m[1] * x + m[3] * y + m[5]};
}
// The linear part only (no translation): how a direction vector maps.
inline Point apply_linear(const Matrix& m, double x, double y) {
  return {m[0] * x + m[2] * y, m[1] * x + m[3] * y};
}

// Kind of a colour space, by its component layout. A class wrapping an enum so the kind can
// carry its own lookup (from_name) while still comparing and switching like an enum.
class ColorSpaceKind {
 public:
  enum Value : std::uint8_t { Gray, Rgb, Cmyk, Other };

  constexpr ColorSpaceKind(Value v = Gray) : v_(v) {}
  constexpr operator Value() const { return v_; }

  // Device and calibrated family names map to their kind; any other name (including the
  // name of a /ColorSpace resource, which is not looked up) is Other.
  static ColorSpaceKind from_name(std::string_view name);

 private:
  Value v_;
};

struct GraphicsState {
  std::string font;  // qualified resource name
  double font_size = 0;
  double char_spacing = 0;
  double word_spacing = 0;
  double horizontal_scaling = 1;
  double leading = 0;
  double rise = 0;
  RenderMode render_mode = RenderMode::Fill;
  Matrix ctm = kIdentity;
  Color fill = Gray{0};
  Color stroke = Gray{0};
  ColorSpaceKind fill_space = ColorSpaceKind::Gray;
  ColorSpaceKind stroke_space = ColorSpaceKind::Gray;
};

// The current state plus at most kMaxSaved saved states. A floor keeps Q from popping
// states saved outside the form XObject being executed.
class GraphicsStack {
 public:
  static constexpr std::size_t kMaxSaved = 64;

  GraphicsState& current() { return current_; }
  const GraphicsState& current() const { return current_; }

  // q: pushes a copy of the current state; false (and nothing happens) when full.
  bool save();
  // Q: pops the innermost saved state above the floor; false when there is none.
  bool restore();

  std::size_t depth() const { return saved_.size(); }
  std::size_t floor() const { return floor_; }
  void set_floor(std::size_t f) { floor_ = f; }
  // Drops saved states above `depth` without touching the current state.
  void truncate(std::size_t depth) {
    if (saved_.size() > depth) saved_.resize(depth);
  }
  // Pops the innermost saved state regardless of the floor.
  bool pop_into_current();

 private:
  GraphicsState current_;
  std::vector<GraphicsState> saved_;
  std::size_t floor_ = 0;
};

}  // namespace velko
