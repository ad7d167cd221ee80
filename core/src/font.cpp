#include "font.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <deque>
#include <iterator>
#include <set>

#include "cff.h"

namespace velko {

namespace {

bool is_cmap_space(std::uint8_t b) {
  return b == 0 || b == '\t' || b == '\n' || b == '\f' || b == '\r' || b == ' ';
}
bool is_cmap_delimiter(std::uint8_t b) {
  return is_cmap_space(b) || b == '%' || b == '(' || b == ')' || b == '<' || b == '>' ||
         b == '[' || b == ']';
}

// A source string's code: its first four bytes, big-endian (empty: 0).
std::uint32_t code_of(const Bytes& b) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < b.size() && i < 4; ++i) v = v << 8 | b[i];
  return v;
}

bool is_scalar(std::uint64_t v) { return v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF); }

// Decodes the last UTF-8 character of s (which is valid UTF-8): start index and value.
std::pair<std::size_t, char32_t> last_char(const std::string& s) {
  std::size_t i = s.size() - 1;
  while (i > 0 && (std::uint8_t(s[i]) & 0xC0) == 0x80) --i;
  std::u32string c = utf8_to_u32(std::string_view(s).substr(i));
  return {i, c.empty() ? U'\uFFFD' : c[0]};
}

bool is_separator(char32_t c) {
  return c == 0x002C || c == 0x002E || c == 0x02D9 || c == 0x060C || c == 0x066B || c == 0x066C;
}

bool is_mirrored(char32_t c) {
  switch (c) {
    case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}':
    case 0x00AB: case 0x00BB: case 0x2039: case 0x203A: case 0xFD3E: case 0xFD3F:
      return true;
    default:
      return false;
  }
}

// The value of a decimal digit in the ASCII, Arabic-Indic or extended Arabic-Indic set.
std::optional<int> digit_value(char32_t c) {
  const int set = digit_set(c);
  if (set < 0) return std::nullopt;
  return int(c - kDigitZero[static_cast<std::size_t>(set)]);
}

// The single character of a UTF-8 text, or nothing if it has zero or several.
std::optional<char32_t> single_char(const std::string& s) {
  if (s.empty() || s.size() > 4) return std::nullopt;
  std::u32string u = utf8_to_u32(s);
  if (u.size() != 1) return std::nullopt;
  return u[0];
}

std::string to_utf8(char32_t c) {
  std::string out;
  append_utf8(out, c);
  return out;
}

const icu::Normalizer2* nfkc_instance() {
  static const icu::Normalizer2* instance = [] {
    UErrorCode err = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFKCInstance(err);
    return U_SUCCESS(err) ? n : nullptr;
  }();
  return instance;
}

std::u32string nfkc_char(char32_t c) {
  const icu::Normalizer2* n = nfkc_instance();
  // Most characters are unchanged by NFKC on their own; skip the string round trip.
  if (n == nullptr || n->isInert(UChar32(c))) return std::u32string(1, c);
  return nfkc(std::u32string_view(&c, 1));
}

bool same_group(char32_t a, char32_t b) {
  auto ga = variant_group(a);
  return ga && ga == variant_group(b);
}

// Whether a ToUnicode character t and the embedded program's character g tell the same
// story: same letter, letter variants, the same digit in another script, or the Latin
// and Arabic forms of a decimal or thousands separator.
bool agree(char32_t t, char32_t g) {
  if (same_letter_after_nfkc(t, g)) return true;
  if (same_group(t, g)) return true;
  auto dt = digit_value(t), dg = digit_value(g);
  if (dt && dg && *dt == *dg) return true;
  return (t == 0x2C && g == 0x66C) || (t == 0x66C && g == 0x2C) || (t == 0x2E && g == 0x66B) ||
         (t == 0x66B && g == 0x2E);
}

bool is_white_space(char32_t c) { return u_hasBinaryProperty(UChar32(c), UCHAR_WHITE_SPACE); }

// Sweeps the /W entries' boundaries; each elementary span takes the width of the first
// entry (lowest index) that covers it. O(n log n), then merged into maximal ranges.
std::vector<CidWidth> resolve_cid_widths(const std::vector<CidWidth>& entries) {
  std::vector<CidWidth> out;
  if (entries.empty()) return out;
  struct Event {
    std::uint64_t at;
    bool open;
    std::size_t index;
  };
  std::vector<Event> events;
  events.reserve(entries.size() * 2);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].first > entries[i].last) continue;
    events.push_back({entries[i].first, true, i});
    events.push_back({std::uint64_t(entries[i].last) + 1, false, i});
  }
  std::sort(events.begin(), events.end(),
            [](const Event& a, const Event& b) { return a.at < b.at; });
  std::set<std::size_t> active;
  for (std::size_t k = 0; k < events.size();) {
    std::uint64_t at = events[k].at;
    for (; k < events.size() && events[k].at == at; ++k) {
      if (events[k].open) active.insert(events[k].index);
      else active.erase(events[k].index);
    }
    if (active.empty() || k == events.size()) continue;
    std::uint64_t next = events[k].at;  // the span [at, next) has one winner
    const CidWidth& win = entries[*active.begin()];
    if (!out.empty() && out.back().last + std::uint64_t(1) == at && out.back().width == win.width) {
      out.back().last = std::uint32_t(next - 1);
    } else {
      out.push_back(CidWidth{std::uint32_t(at), std::uint32_t(next - 1), win.width});
    }
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// CMap

Bytes hex_bytes(std::string_view digits) {
  Bytes out;
  out.reserve(digits.size() / 2 + 1);
  int high = -1;
  for (char ch : digits) {
    int v;
    if (ch >= '0' && ch <= '9') v = ch - '0';
    else if (ch >= 'a' && ch <= 'f') v = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F') v = ch - 'A' + 10;
    else continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(std::uint8_t(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) out.push_back(std::uint8_t(high << 4));
  return out;
}

namespace {

// Produces the tokens of a CMap program one at a time, so that parsing needs memory for
// a few tokens of look-ahead rather than for the whole token list.
class CMapLexer {
 public:
  explicit CMapLexer(std::span<const std::uint8_t> data) : d_(data) {}

  std::optional<Token> next() {
    const std::size_t n = d_.size();
    while (i_ < n) {
      std::uint8_t b = d_[i_];
      if (is_cmap_space(b)) {
        ++i_;
      } else if (b == '%') {
        while (i_ < n && d_[i_] != '\n') ++i_;
      } else if (b == '(') {
        skip_literal_string();
      } else if (b == '<') {
        if (i_ + 1 < n && d_[i_ + 1] == '<') {
          i_ += 2;
          return Token{Token::Kind::Word, {}, "<<"};
        }
        std::size_t start = i_ + 1, end = start;
        while (end < n && d_[end] != '>') ++end;
        std::string_view digits(reinterpret_cast<const char*>(d_.data()) + start, end - start);
        i_ = end < n ? end + 1 : n;
        return Token{Token::Kind::Hex, hex_bytes(digits), {}};
      } else if (b == '>') {
        i_ += (i_ + 1 < n && d_[i_ + 1] == '>') ? 2 : 1;
      } else if (b == '[') {
        ++i_;
        return Token{Token::Kind::ArrayOpen, {}, {}};
      } else if (b == ']') {
        ++i_;
        return Token{Token::Kind::ArrayClose, {}, {}};
      } else if (b == ')') {
        ++i_;  // a stray closer starts nothing
      } else {
        std::size_t start = i_;
        while (i_ < n && !is_cmap_delimiter(d_[i_])) ++i_;
        std::string_view run(reinterpret_cast<const char*>(d_.data()) + start, i_ - start);
        return Token{Token::Kind::Word, {}, lossy_utf8(run)};
      }
    }
    return std::nullopt;
  }

 private:
  // A PostScript string: nested parentheses balance, a backslash escapes the next byte.
  void skip_literal_string() {
    const std::size_t n = d_.size();
    int depth = 1;
    ++i_;
    while (i_ < n && depth > 0) {
      if (d_[i_] == '\\') {
        i_ = std::min(i_ + 2, n);
        continue;
      }
      if (d_[i_] == '(') ++depth;
      else if (d_[i_] == ')') --depth;
      ++i_;
    }
  }

  std::span<const std::uint8_t> d_;
  std::size_t i_ = 0;
};

// The lexer with a small look-ahead window. Pointers returned by peek() stay valid
// until the token they point to is consumed (a deque never moves its elements on
// push_back).
class TokenStream {
 public:
  explicit TokenStream(std::span<const std::uint8_t> data) : lexer_(data) {}

  const Token* peek(std::size_t k) {
    while (window_.size() <= k) {
      auto t = lexer_.next();
      if (!t) return nullptr;
      window_.push_back(std::move(*t));
    }
    return &window_[k];
  }
  void advance(std::size_t k) {
    for (; k > 0; --k) {
      if (!window_.empty()) window_.pop_front();
      else if (!lexer_.next()) return;
    }
  }

 private:
  CMapLexer lexer_;
  std::deque<Token> window_;
};

bool is_word(const Token* t, std::string_view w) {
  return t != nullptr && t->kind == Token::Kind::Word && t->word == w;
}
bool is_hex(const Token* t) { return t != nullptr && t->kind == Token::Kind::Hex; }

}  // namespace

std::vector<Token> cmap_tokens(std::span<const std::uint8_t> data) {
  std::vector<Token> tokens;
  CMapLexer lexer(data);
  while (auto t = lexer.next()) tokens.push_back(std::move(*t));
  return tokens;
}

CMap CMap::parse(std::span<const std::uint8_t> data) {
  CMap cmap;
  TokenStream ts(data);
  while (const Token* t = ts.peek(0)) {
    if (is_word(t, "beginbfchar")) {
      ts.advance(1);
      while (const Token* a = ts.peek(0)) {
        const Token* b = ts.peek(1);
        if (is_hex(a) && is_hex(b)) {
          cmap.chars[code_of(a->hex)] = utf16be_to_string(b->hex);
          ts.advance(2);
        } else {
          bool end = is_word(a, "endbfchar");
          ts.advance(1);
          if (end) break;
        }
      }
    } else if (is_word(t, "beginbfrange")) {
      ts.advance(1);
      while (const Token* a = ts.peek(0)) {
        if (is_word(a, "endbfrange")) {
          ts.advance(1);
          break;
        }
        const Token* b = ts.peek(1);
        if (!(is_hex(a) && is_hex(b))) {
          ts.advance(1);
          continue;
        }
        std::uint32_t lo = code_of(a->hex), hi = code_of(b->hex);
        const Token* third = ts.peek(2);
        if (third == nullptr) break;  // the section ends with the tokens
        if (third->kind == Token::Kind::ArrayOpen) {
          ts.advance(3);
          std::vector<std::string> list;
          while (const Token* e = ts.peek(0)) {
            if (e->kind == Token::Kind::ArrayClose) break;
            if (e->kind == Token::Kind::Hex) list.push_back(utf16be_to_string(e->hex));
            ts.advance(1);
          }
          ts.advance(1);  // the ArrayClose, if any
          cmap.ranges.push_back(BfRange{std::move(list), lo, hi});
        } else if (third->kind == Token::Kind::Hex) {
          cmap.ranges.push_back(BfRange{utf16be_to_string(third->hex), lo, hi});
          ts.advance(3);
        } else {
          ts.advance(2);
        }
      }
    } else if (is_word(t, "begincodespacerange")) {
      // Code widths come from the font's subtype, so the ranges are not needed. Without
      // the closing keyword everything after is passed over with them.
      ts.advance(1);
      while (const Token* a = ts.peek(0)) {
        bool end = is_word(a, "endcodespacerange");
        ts.advance(1);
        if (end) break;
      }
    } else {
      ts.advance(1);
    }
  }
  return cmap;
}

std::optional<std::string> CMap::get(std::uint32_t code) const {
  if (!chars.empty()) {
    if (auto it = chars.find(code); it != chars.end()) return it->second;
  }
  // Of the ranges that answer for the code, the narrowest wins, the first in file order
  // among equally narrow ones. For well-formed CMaps (no overlaps) that is simply the one
  // range holding the code; it matters for producers that write a range with a wrong end
  // (Ghostscript has been seen writing <01ff><02ff><feec> for a single code), which would
  // otherwise shadow every later, correct entry inside it.
  const BfRange* best = nullptr;
  for (const BfRange& r : ranges) {
    if (code < r.lo || code > r.hi) continue;
    if (const auto* list = std::get_if<std::vector<std::string>>(&r.dst)) {
      if (code - r.lo >= list->size()) continue;  // this range has no text for the code
    }
    if (best == nullptr || r.hi - r.lo < best->hi - best->lo) best = &r;
    if (r.lo == r.hi) break;  // nothing is narrower than a single code
  }
  if (best == nullptr) return std::nullopt;
  if (const auto* text = std::get_if<std::string>(&best->dst)) {
    if (code == best->lo || text->empty()) return *text;
    auto [at, last] = last_char(*text);
    std::uint64_t shifted = std::uint64_t(last) + (code - best->lo);
    if (!is_scalar(shifted)) return *text;
    std::string out = text->substr(0, at);
    append_utf8(out, char32_t(shifted));
    return out;
  }
  return std::get<std::vector<std::string>>(best->dst)[code - best->lo];
}

// ---------------------------------------------------------------------------------------
// Character functions

std::u32string nfkc(std::u32string_view s) {
  const icu::Normalizer2* n = nfkc_instance();
  if (n == nullptr) return std::u32string(s);
  icu::UnicodeString in = icu::UnicodeString::fromUTF32(
      reinterpret_cast<const UChar32*>(s.data()), std::int32_t(s.size()));
  UErrorCode err = U_ZERO_ERROR;
  icu::UnicodeString out = n->normalize(in, err);
  if (U_FAILURE(err)) return std::u32string(s);
  std::u32string result(std::size_t(out.countChar32()), U'\0');
  err = U_ZERO_ERROR;
  out.toUTF32(reinterpret_cast<UChar32*>(result.data()), std::int32_t(result.size()), err);
  return result;
}

std::optional<char32_t> arabic_letter(char32_t c) {
  std::u32string n = nfkc_char(c);
  if (n.size() != 1) return std::nullopt;
  char32_t l = n[0];
  if ((l >= 0x621 && l <= 0x63A) || (l >= 0x641 && l <= 0x64A)) return l;
  return std::nullopt;
}

std::optional<char32_t> variant_group(char32_t c) {
  std::u32string n = nfkc_char(c);
  if (n.size() != 1) return std::nullopt;
  switch (n[0]) {
    case 0x0643: case 0x06A9:
      return char32_t(0x0643);
    case 0x0647: case 0x06BE: case 0x06C1: case 0x06D5:
      return char32_t(0x0647);
    case 0x0649: case 0x064A: case 0x06CC:
      return char32_t(0x064A);
    default:
      return std::nullopt;
  }
}

bool same_letter_after_nfkc(char32_t a, char32_t b) {
  return a == b || nfkc_char(a) == nfkc_char(b);
}

bool to_unicode_is_untrustworthy(const CMap& to_unicode, const GlyphUnicode& glyph_unicode,
                                 const std::optional<std::vector<std::uint16_t>>& cid_to_gid) {
  if (to_unicode.empty() || glyph_unicode.empty()) return false;
  std::size_t compared = 0, mismatched = 0, serious = 0;
  auto witness = [&](std::uint32_t code, char32_t g) {
    auto text = to_unicode.get(code);
    if (!text || is_mirrored(g)) return;
    auto t = single_char(*text);
    if (!t) return;
    ++compared;
    if (agree(*t, g)) return;
    ++mismatched;
    auto lg = arabic_letter(g);
    if (!lg) return;
    if (is_white_space(*t)) {
      ++serious;
    } else if (auto lt = arabic_letter(*t); lt && *lt != *lg) {
      ++serious;
    }
  };
  if (!cid_to_gid) {
    glyph_unicode.for_each([&](std::uint16_t glyph, char32_t g) { witness(glyph, g); });
  } else {
    for (std::size_t i = 0; i < cid_to_gid->size(); ++i) {
      if (auto g = glyph_unicode.get((*cid_to_gid)[i])) witness(std::uint32_t(i), *g);
    }
  }
  if (compared < 8) return false;
  return double(mismatched) > double(compared) * 0.3333333333333333 || serious >= 3;
}

// ---------------------------------------------------------------------------------------
// Font

Font Font::from_raw(RawFont raw) {
  Font f;
  f.name = std::move(raw.info.name);
  f.two_byte = raw.info.subtype == "Type0";
  if (raw.to_unicode) f.to_unicode = CMap::parse(*raw.to_unicode);
  if (!f.two_byte) {
    f.encoding = Encoding::make(raw.base_encoding, raw.differences);
    if (raw.font_file3) f.cff_names = glyph_names(*raw.font_file3);
  }

  // Separator repairs: a ToUnicode map often writes a Latin comma or full stop where the
  // font's own encoding says which separator the glyph really is (an Arabic comma, a
  // decimal separator); the encoding is the better witness for these few characters.
  if (!f.to_unicode.empty() && !f.two_byte) {
    for (std::uint32_t code = 0; code < 256; ++code) {
      auto text = f.to_unicode.get(code);
      if (!text) continue;
      auto t = single_char(*text);
      if (!t || !is_separator(*t)) continue;
      auto second = f.encoding.decode(code);
      if (!second) {
        if (auto it = f.cff_names.find(code); it != f.cff_names.end())
          second = glyph_name_to_string(it->second);
      }
      if (!second) continue;
      auto s = single_char(*second);
      if (s && is_separator(*s) && *s != *t) f.overrides[code] = *second;
    }
  }

  if (raw.font_file2) f.glyph_unicode = velko::glyph_unicode(*raw.font_file2);
  if (raw.cid_to_gid_map) {
    const Bytes& m = *raw.cid_to_gid_map;
    std::vector<std::uint16_t> gids(m.size() / 2);
    for (std::size_t i = 0; i < gids.size(); ++i)
      gids[i] = std::uint16_t(m[2 * i] << 8 | m[2 * i + 1]);
    f.cid_to_gid = std::move(gids);
  }
  f.untrustworthy = to_unicode_is_untrustworthy(f.to_unicode, f.glyph_unicode, f.cid_to_gid);
  if (raw.truetype_program && !f.two_byte) {
    // LibreOffice justifies Arabic with kashida glyphs that its ToUnicode maps leave out;
    // the program's outlines identify them. Only codes that nothing else decodes count.
    const std::span<const std::uint8_t> program(*raw.truetype_program);
    std::optional<std::array<std::uint16_t, 256>> glyphs;
    for (std::uint32_t code = 0; code < 256; ++code) {
      if (f.decode(code)) continue;
      if (!glyphs) glyphs = simple_code_glyphs(program);
      const std::uint16_t g = (*glyphs)[code];
      if (g != 0 && is_baseline_bar(program, g)) f.kashida_codes.set(code);
    }
  }
  f.widths = std::move(raw.widths);
  f.cid_widths = std::move(raw.cid_widths);
  f.cid_width_ranges = resolve_cid_widths(f.cid_widths);
  f.missing_width = raw.missing_width;
  f.default_width = raw.default_width;
  f.first_char = raw.first_char;
  return f;
}

double Font::glyph_width(std::uint32_t code) const {
  if (!two_byte) {
    if (first_char <= code && code - first_char < widths.size()) return widths[code - first_char];
    return missing_width;
  }
  if (!cid_width_ranges.empty()) {
    auto it = std::upper_bound(cid_width_ranges.begin(), cid_width_ranges.end(), code,
                               [](std::uint32_t c, const CidWidth& w) { return c < w.first; });
    if (it != cid_width_ranges.begin() && code <= std::prev(it)->last) return std::prev(it)->width;
    return default_width;
  }
  for (const CidWidth& cw : cid_widths)
    if (cw.first <= code && code <= cw.last) return cw.width;
  return default_width;
}

std::optional<std::string> Font::decode(std::uint32_t code) const {
  if (!overrides.empty()) {
    if (auto it = overrides.find(code); it != overrides.end()) return it->second;
  }

  // The glyph id behind the code, when the embedded program can be consulted.
  std::optional<char32_t> program_char;
  if (!glyph_unicode.empty() && code <= 0xFFFF) {
    std::optional<std::uint16_t> glyph;
    if (!cid_to_gid) {
      glyph = std::uint16_t(code);
    } else if (code < cid_to_gid->size() && (*cid_to_gid)[code] != 0) {
      glyph = (*cid_to_gid)[code];
    }
    if (glyph) program_char = glyph_unicode.get(*glyph);
  }

  if (program_char) {
    char32_t g = *program_char;
    if (g == 0x0640) return to_utf8(g);
    if (untrustworthy && !is_mirrored(g)) {
      auto text = to_unicode.get(code);
      if (!text) return to_utf8(g);
      if (auto t = single_char(*text)) {
        // The ToUnicode map's choice among letter variants (keheh for kaf, Farsi yeh)
        // is kept: the program's map often names only the generic letter.
        if (!same_letter_after_nfkc(*t, g) && same_group(*t, g)) return text;
        return to_utf8(g);
      }
      // Several characters for one glyph: keep them when they spell out the ligature the
      // program names (lam + alef for U+FEFB).
      std::u32string nt = nfkc(utf8_to_u32(*text));
      std::u32string ng = nfkc_char(g);
      if (ng.size() >= 2 && nt.size() == ng.size()) {
        bool same = true;
        for (std::size_t i = 0; i < ng.size() && same; ++i)
          same = nt[i] == ng[i] || same_group(nt[i], ng[i]);
        if (same) return text;
      }
      return to_utf8(g);
    }
  }

  if (!to_unicode.empty()) {
    if (auto text = to_unicode.get(code)) return text;
  }
  if (auto text = encoding.decode(code)) return text;
  if (!cff_names.empty()) {
    if (auto it = cff_names.find(code); it != cff_names.end()) {
      if (auto text = glyph_name_to_string(it->second)) return text;
    }
  }
  if (program_char) return to_utf8(*program_char);
  if (code < 256 && kashida_codes.test(code)) return to_utf8(0x0640);
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// FontMap

FontMap FontMap::from_raw(std::vector<RawFont> raw) {
  FontMap map;
  map.fonts.reserve(raw.size());
  for (RawFont& r : raw) {
    Font f = Font::from_raw(std::move(r));
    std::string key = f.name;
    map.fonts.insert_or_assign(std::move(key), std::move(f));
  }
  return map;
}

const Font* FontMap::find(std::string_view font) const {
  auto it = fonts.find(font);
  return it == fonts.end() ? nullptr : &it->second;
}

std::optional<std::string> FontMap::decode(std::string_view font, std::uint32_t code) const {
  const Font* f = find(font);
  if (f == nullptr) return std::nullopt;
  return f->decode(code);
}

double FontMap::width(std::string_view font, std::uint32_t code) const {
  const Font* f = find(font);
  if (f == nullptr) return 0.5;
  return f->glyph_width(code) / 1000;
}

}  // namespace velko
