// Plain records shared across the engine: geometry, colour, text style, placed glyphs,
// font and page summaries, and the records the PDF access layer copies out of a file.
// Everything is a value type with public fields; text is UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace velko {

using Bytes = std::vector<std::uint8_t>;

// Axis-aligned rectangle in page space (points, y up).
struct Rect {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Colour as the content stream set it: single-precision components, unscaled and
// unclamped. A closed variant: grey, RGB, CMYK, or a colour we cannot represent.
struct Gray {
  float g = 0;
};
struct Rgb {
  float r = 0, g = 0, b = 0;
};
struct Cmyk {
  float c = 0, m = 0, y = 0, k = 0;
};
struct UnknownColor {};

struct Color {
  std::variant<Gray, Rgb, Cmyk, UnknownColor> value = Gray{0};

  Color() = default;
  Color(Gray v) : value(v) {}
  Color(Rgb v) : value(v) {}
  Color(Cmyk v) : value(v) {}
  Color(UnknownColor v) : value(v) {}

  std::array<std::uint8_t, 3> to_rgb8() const;
  std::string to_css_hex() const;
  bool operator==(const Color& o) const;
};

// Text rendering mode (Tr operand).
enum class RenderMode : std::uint8_t {
  Fill = 0,
  Stroke = 1,
  FillStroke = 2,
  Invisible = 3,
  FillClip = 4,
  StrokeClip = 5,
  FillStrokeClip = 6,
  Clip = 7,
};

// How a glyph was shown.
struct Style {
  std::string font;  // resource name, qualified with the form path (Fm0/F1)
  double size = 0;   // effective type size in page space
  Color color;
  RenderMode render_mode = RenderMode::Fill;

  // Whether two runs in these styles may be joined into one styled run.
  bool merges_with(const Style& other) const;
};

// One shown character code.
struct Glyph {
  Style style;
  double x = 0;
  double y = 0;
  double width = 0;  // page-space advance, never negative
  std::uint32_t code = 0;
  std::uint8_t rotation = 0;  // quarter turns counter-clockwise of the baseline
};

enum class FontDecoding : std::uint8_t { HasToUnicode, HasEncoding, Neither };

// Summary of one font dictionary.
struct FontInfo {
  std::string name;
  std::string subtype;
  std::optional<std::string> base_font;
  std::optional<std::string> encoding;
  FontDecoding decoding = FontDecoding::Neither;
};

// Geometry of one page as the page tree gives it.
struct PageInfo {
  Rect media_box{0, 0, 595.276, 841.89};
  std::uint32_t number = 0;
  std::uint8_t rotation = 0;  // quarter turns clockwise
};

// A form XObject copied out of the file: qualified name, decoded content, /Matrix.
struct RawForm {
  std::string name;
  Bytes content;
  std::array<double, 6> matrix{1, 0, 0, 1, 0, 0};
};

// One (first, last, width) entry of a composite font's /W array.
struct CidWidth {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  double width = 0;
};

// Everything the font model needs from one font dictionary, copied out of the file.
struct RawFont {
  FontInfo info;
  std::vector<double> widths;
  std::vector<CidWidth> cid_widths;
  std::vector<std::pair<std::uint8_t, std::string>> differences;
  std::optional<Bytes> to_unicode;
  std::optional<std::string> base_encoding;
  std::optional<Bytes> font_file3;
  std::optional<Bytes> font_file2;
  std::optional<Bytes> cid_to_gid_map;
  std::optional<Bytes> truetype_program;  // simple TrueType fonts: decoded /FontFile2
  double missing_width = 0;
  double default_width = 1000;
  std::uint32_t first_char = 0;
};

// The width lookup the content interpreter is given: a code's advance in text space
// for a font size of 1 (glyph units / 1000). The page's FontMap implements it.
class GlyphWidths {
 public:
  virtual ~GlyphWidths() = default;
  virtual double width(std::string_view font, std::uint32_t code) const = 0;
};

// Character classes shared by decoding, line building and assessment.

// Right-to-left scripts: Hebrew to NKo, Samaritan to Arabic Extended-A, presentation forms.
inline bool is_rtl_char(char32_t c) {
  return (c >= 0x0590 && c <= 0x07BF) || (c >= 0x0860 && c <= 0x08FF) ||
         (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF);
}

// Arabic presentation forms A and B, which NFKC folds to base letters.
inline bool is_presentation_form(char32_t c) {
  return (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF);
}

// Combining marks that stay with a letter: Latin combining diacritics, Arabic harakat,
// Quranic marks and the isolated haraka forms.
inline bool is_mark_char(char32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x064B && c <= 0x065F) || c == 0x0670 ||
         (c >= 0x06D6 && c <= 0x06ED) || (c >= 0x08D3 && c <= 0x08FF) ||
         (c >= 0xFE70 && c <= 0xFE7F);
}

// The zero of each digit set, by set number.
inline constexpr std::array<char32_t, 3> kDigitZero = {U'0', 0x0660, 0x06F0};

// The digit set of c (0 ASCII, 1 Arabic-Indic, 2 extended Arabic-Indic), or -1.
inline int digit_set(char32_t c) {
  if (c >= U'0' && c <= U'9') return 0;
  if (c >= 0x0660 && c <= 0x0669) return 1;
  if (c >= 0x06F0 && c <= 0x06F9) return 2;
  return -1;
}

// Appends the UTF-8 encoding of a scalar value (invalid values become U+FFFD).
void append_utf8(std::string& out, char32_t c);

// The scalar value of the UTF-8 sequence at s[i], advancing i past it; an ill-formed
// sequence reads as one U+FFFD (its maximal subpart consumed).
char32_t next_utf8(std::string_view s, std::size_t& i);

// Decodes UTF-8, replacing every invalid sequence with U+FFFD.
std::u32string utf8_to_u32(std::string_view s);
std::string u32_to_utf8(std::u32string_view s);

// Big-endian UTF-16 code units as UTF-8; a trailing odd byte is ignored and an unpaired
// surrogate becomes U+FFFD. (ToUnicode destinations and PDF text strings are written so.)
std::string utf16be_to_string(std::span<const std::uint8_t> bytes);

// Bytes read as UTF-8 with invalid sequences replaced by U+FFFD (how PDF names become text).
std::string lossy_utf8(std::string_view bytes);

}  // namespace velko
