#include "types.h"

#include <cmath>
#include <cstdio>

namespace velko {

namespace {

std::uint8_t channel(float v) {
  // NaN fails both comparisons and ends up 0 through the final clamp.
  float c = v;
  if (!(c >= 0.0f)) c = 0.0f;
  if (c > 1.0f) c = 1.0f;
  float scaled = std::round(c * 255.0f);  // halves away from zero
  if (!(scaled >= 0.0f)) return 0;
  if (scaled > 255.0f) return 255;
  return static_cast<std::uint8_t>(scaled);
}

}  // namespace

std::array<std::uint8_t, 3> Color::to_rgb8() const {
  struct Visitor {
    std::array<std::uint8_t, 3> operator()(const Gray& c) const {
      auto g = channel(c.g);
      return {g, g, g};
    }
    std::array<std::uint8_t, 3> operator()(const Rgb& c) const {
      return {channel(c.r), channel(c.g), channel(c.b)};
    }
    std::array<std::uint8_t, 3> operator()(const Cmyk& c) const {
      return {channel((1.0f - c.c) * (1.0f - c.k)), channel((1.0f - c.m) * (1.0f - c.k)),
              channel((1.0f - c.y) * (1.0f - c.k))};
    }
    std::array<std::uint8_t, 3> operator()(const UnknownColor&) const { return {0, 0, 0}; }
  };
  return std::visit(Visitor{}, value);
}

std::string Color::to_css_hex() const {
  auto rgb = to_rgb8();
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return buf;
}

bool Color::operator==(const Color& o) const {
  if (value.index() != o.value.index()) return false;
  if (auto* a = std::get_if<Gray>(&value)) return a->g == std::get<Gray>(o.value).g;
  if (auto* a = std::get_if<Rgb>(&value)) {
    const auto& b = std::get<Rgb>(o.value);
    return a->r == b.r && a->g == b.g && a->b == b.b;
  }
  if (auto* a = std::get_if<Cmyk>(&value)) {
    const auto& b = std::get<Cmyk>(o.value);
    return a->c == b.c && a->m == b.m && a->y == b.y && a->k == b.k;
  }
  return true;  // Unknown equals Unknown
}

bool Style::merges_with(const Style& other) const {
  return font == other.font && color == other.color && render_mode == other.render_mode &&
         std::fabs(size - other.size) < 0.01;
}

void append_utf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at s[i]; returns the scalar value (U+FFFD for an invalid
// sequence, consuming the maximal invalid prefix as one replacement, as Unicode advises).
char32_t next_utf8(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = 0;
  char32_t c = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    c = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    c = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++i;
    return 0xFFFD;
  }
  ++i;
  for (int k = 1; k < len; ++k) {
    if (i >= s.size()) return 0xFFFD;
    auto b = static_cast<unsigned char>(s[i]);
    if (b < lo || b > hi) return 0xFFFD;
    lo = 0x80;
    hi = 0xBF;
    c = (c << 6) | (b & 0x3F);
    ++i;
  }
  return c;
}

std::u32string utf8_to_u32(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) out.push_back(next_utf8(s, i));
  return out;
}

std::string u32_to_utf8(std::u32string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char32_t c : s) append_utf8(out, c);
  return out;
}

std::string lossy_utf8(std::string_view bytes) {
  // Fast path: most names are plain ASCII.
  bool ascii = true;
  for (char ch : bytes) {
    if (static_cast<unsigned char>(ch) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t i = 0;
  while (i < bytes.size()) append_utf8(out, next_utf8(bytes, i));
  return out;
}

std::string utf16be_to_string(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size());
  const std::size_t n = bytes.size() / 2;
  for (std::size_t i = 0; i < n; ++i) {
    const char32_t u = char32_t(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
      const char32_t next = char32_t(bytes[2 * i + 2] << 8 | bytes[2 * i + 3]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    append_utf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t(0xFFFD) : u);
  }
  return out;
}

}  // namespace velko
