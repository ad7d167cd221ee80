#include "encoding.h"

#include <array>
#include <mutex>

#include "types.h"

namespace velko {

extern const std::string_view kGlyphListText;

namespace {

// Windows code page 1252, codes 0x80-0x9F (0 = undefined).
constexpr std::array<char16_t, 32> kWinAnsiHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Mac OS Roman, codes 0x80-0xFF, in the mapping with the euro sign at 0xDB.
constexpr std::array<char16_t, 128> kMacRomanHigh = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4,
    0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF,
    0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020,
    0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4,
    0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202,
    0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1,
    0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3,
    0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A,
    0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC,
    0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF,
    0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_scalar(std::uint64_t v) { return v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF); }

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

// Decodes 16-bit code units as UTF-16, unpaired surrogates becoming U+FFFD.
void append_utf16(std::string& out, const std::vector<char16_t>& units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      append_utf8(out, 0xFFFD);
    } else {
      append_utf8(out, u);
    }
  }
}

std::optional<std::string> uni_form(std::string_view component) {
  std::string rest;
  std::string_view tail = component.substr(3);
  rest.reserve(tail.size());
  // Further "uni" prefixes are dropped so uni0627uni0644 reads like uni06270644.
  for (std::size_t i = 0; i < tail.size();) {
    if (tail.substr(i, 3) == "uni") {
      i += 3;
    } else {
      rest.push_back(tail[i++]);
    }
  }
  if (rest.empty() || rest.size() % 4 != 0) return std::nullopt;
  std::vector<char16_t> units;
  units.reserve(rest.size() / 4);
  for (std::size_t i = 0; i < rest.size(); i += 4) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      int h = hex_value(rest[i + k]);
      if (h < 0) return std::nullopt;
      v = v * 16 + unsigned(h);
    }
    units.push_back(char16_t(v));
  }
  std::string out;
  append_utf16(out, units);
  return out;
}

}  // namespace

std::optional<BaseEncoding> base_encoding_from_name(std::string_view name) {
  if (name == "WinAnsiEncoding") return BaseEncoding::WinAnsi;
  if (name == "MacRomanEncoding") return BaseEncoding::MacRoman;
  if (name == "StandardEncoding" || name == "PDFDocEncoding") return BaseEncoding::Standard;
  return std::nullopt;
}

Encoding Encoding::make(const std::optional<std::string>& base_name,
                        const std::vector<std::pair<std::uint8_t, std::string>>& differences) {
  Encoding e;
  if (base_name) e.base = base_encoding_from_name(*base_name);
  for (const auto& [code, name] : differences) e.differences[code] = name;
  return e;
}

std::optional<char32_t> Encoding::base_char(BaseEncoding base, std::uint8_t code) {
  if (code < 0x20 || code == 0x7F) return std::nullopt;
  switch (base) {
    case BaseEncoding::WinAnsi:
      if (code < 0x80 || code >= 0xA0) return char32_t(code);
      if (char16_t c = kWinAnsiHigh[code - 0x80]) return char32_t(c);
      return std::nullopt;
    case BaseEncoding::MacRoman:
      if (code < 0x80) return char32_t(code);
      return char32_t(kMacRomanHigh[code - 0x80]);
    case BaseEncoding::Standard:
      if (code > 0x7E) return std::nullopt;
      if (code == 0x27) return char32_t(0x2019);
      if (code == 0x60) return char32_t(0x2018);
      return char32_t(code);
  }
  return std::nullopt;
}

std::optional<std::string> Encoding::decode(std::uint32_t code) const {
  if (code >= 256) return std::nullopt;
  if (!differences.empty()) {
    auto it = differences.find(std::uint8_t(code));
    // A name that does not resolve hides the base encoding for that code.
    if (it != differences.end()) return glyph_name_to_string(it->second);
  }
  if (!base) return std::nullopt;
  auto c = base_char(*base, std::uint8_t(code));
  if (!c) return std::nullopt;
  std::string out;
  append_utf8(out, *c);
  return out;
}

GlyphList parse_glyph_list(std::string_view text) {
  GlyphList list;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = trim(text.substr(pos, nl - pos));
    pos = nl + 1;
    if (line.empty() || line.front() == '#') continue;
    std::size_t semi = line.find(';');
    if (semi == std::string_view::npos) continue;
    std::string_view name = line.substr(0, semi);
    std::string_view codes = line.substr(semi + 1);
    std::string value;
    bool valid = true;
    std::size_t i = 0;
    while (valid) {
      while (i < codes.size() && is_space(codes[i])) ++i;
      if (i >= codes.size()) break;
      std::size_t start = i;
      while (i < codes.size() && !is_space(codes[i])) ++i;
      std::string_view piece = codes.substr(start, i - start);
      if (piece.front() == '+') piece.remove_prefix(1);
      if (piece.empty()) {
        valid = false;
        break;
      }
      std::uint64_t v = 0;
      for (char c : piece) {
        int h = hex_value(c);
        if (h < 0 || v > 0xFFFFFFFull) {  // not a digit, or 32-bit overflow ahead
          valid = false;
          break;
        }
        v = v * 16 + unsigned(h);
      }
      if (!valid || v > 0xFFFFFFFFull || !is_scalar(v)) {
        valid = false;
        break;
      }
      append_utf8(value, char32_t(v));
    }
    if (!valid || value.empty()) continue;
    list[std::string(name)] = std::move(value);
  }
  return list;
}

const GlyphList& glyph_list() {
  // Function-local static: initialised exactly once, other threads wait for it.
  static const GlyphList list = parse_glyph_list(kGlyphListText);
  return list;
}

std::optional<std::string> component_to_string(std::string_view component) {
  const GlyphList& list = glyph_list();
  if (auto it = list.find(component); it != list.end()) return it->second;
  if (component == "hyphenminus") return std::string("-");
  if (component.size() >= 3 && component.substr(0, 3) == "uni") {
    if (auto s = uni_form(component)) return s;
  }
  if (component.size() >= 5 && component.size() <= 7 && component.front() == 'u') {
    std::uint32_t v = 0;
    for (char c : component.substr(1)) {
      int h = hex_value(c);
      if (h < 0) return std::nullopt;
      v = v * 16 + unsigned(h);
    }
    if (!is_scalar(v)) return std::nullopt;
    std::string out;
    append_utf8(out, char32_t(v));
    return out;
  }
  return std::nullopt;
}

std::optional<std::string> glyph_name_to_string(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  if (base.empty()) return std::nullopt;
  std::string out;
  std::size_t pos = 0;
  while (true) {
    std::size_t us = base.find('_', pos);
    std::string_view comp =
        base.substr(pos, us == std::string_view::npos ? std::string_view::npos : us - pos);
    if (comp.empty()) return std::nullopt;
    auto s = component_to_string(comp);
    if (!s || s->empty()) return std::nullopt;
    out += *s;
    if (us == std::string_view::npos) break;
    pos = us + 1;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace velko
