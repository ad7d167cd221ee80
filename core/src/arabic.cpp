#include "arabic.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <numeric>
#include <utility>
#include <variant>

#include "bidi.h"
#include "font.h"
#include "layout.h"

namespace velko::arabic {

namespace {

using layout::total_less;

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kTatweel = 0x0640;

// ---- character classes ----------------------------------------------------------------

bool is_white(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE); }

bool in_arabic_block(char32_t c) {
  return (c >= 0x0600 && c <= 0x06FF) || (c >= 0x0750 && c <= 0x077F) ||
         (c >= 0xFB50 && c <= 0xFEFF);
}

bool is_arabic_letter(char32_t c) {
  return in_arabic_block(c) && u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC);
}

// ---- UTF-8 walking ---------------------------------------------------------------------


bool all_ascii(std::string_view s) {
  for (unsigned char b : s) {
    if (b >= 0x80) return false;
  }
  return true;
}

bool has_rtl(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    if (is_rtl_char(next_utf8(s, i))) return true;
  }
  return false;
}

// Non-empty and white space only.
bool only_white(std::string_view s) {
  if (s.empty()) return false;
  std::size_t i = 0;
  while (i < s.size()) {
    if (!is_white(next_utf8(s, i))) return false;
  }
  return true;
}

// Empty, or U+FFFD characters only.
bool empty_or_replacement(std::string_view s) {
  static constexpr std::string_view kFffd = "\xEF\xBF\xBD";
  for (std::size_t i = 0; i < s.size(); i += kFffd.size()) {
    if (s.substr(i, kFffd.size()) != kFffd) return false;
  }
  return true;
}

// The text's only scalar value, if it has exactly one.
std::optional<char32_t> single_cp(std::string_view s) {
  if (s.empty()) return std::nullopt;
  std::size_t i = 0;
  const char32_t c = next_utf8(s, i);
  if (i != s.size()) return std::nullopt;
  return c;
}

// ---- normalisation ---------------------------------------------------------------------

const icu::Normalizer2* nfkc() {
  static const icu::Normalizer2* n = [] {
    UErrorCode e = U_ZERO_ERROR;
    return icu::Normalizer2::getNFKCInstance(e);
  }();
  return n;
}

const icu::Normalizer2* nfd() {
  static const icu::Normalizer2* n = [] {
    UErrorCode e = U_ZERO_ERROR;
    return icu::Normalizer2::getNFDInstance(e);
  }();
  return n;
}

// The canonical decomposition of c as (base, mark) when it is exactly two characters, the
// second in the mark set and the first different from c.
std::optional<std::pair<char32_t, char32_t>> base_and_mark(char32_t c) {
  const icu::Normalizer2* n = nfd();
  if (!n) return std::nullopt;
  icu::UnicodeString d;
  if (!n->getDecomposition(static_cast<UChar32>(c), d)) return std::nullopt;
  if (d.countChar32() != 2) return std::nullopt;
  const auto b = static_cast<char32_t>(d.char32At(0));
  const auto m = static_cast<char32_t>(d.char32At(d.moveIndex32(0, 1)));
  if (!is_mark_char(m) || b == c) return std::nullopt;
  return std::make_pair(b, m);
}

// ---- diagnostics -----------------------------------------------------------------------

// Whether VELKO_DBG is set, asked of the environment at most once per line and only when
// there is something to report: the common path never reads the environment.
class DebugFlag {
 public:
  bool on() {
    if (state_ < 0) state_ = std::getenv("VELKO_DBG") != nullptr ? 1 : 0;
    return state_ == 1;
  }

 private:
  int state_ = -1;
};

// Double-quoted with backslash escapes for quotes, backslashes and control characters.
std::string debug_quote(std::string_view s) {
  std::string out = "\"";
  std::size_t i = 0;
  while (i < s.size()) {
    const char32_t c = next_utf8(s, i);
    switch (c) {
      case U'"': out += "\\\""; break;
      case U'\\': out += "\\\\"; break;
      case U'\n': out += "\\n"; break;
      case U'\r': out += "\\r"; break;
      case U'\t': out += "\\t"; break;
      case U'\0': out += "\\0"; break;
      default:
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
          out += buf;
        } else {
          append_utf8(out, c);
        }
    }
  }
  out += '"';
  return out;
}

void write_stderr(const std::string& line) { std::fwrite(line.data(), 1, line.size(), stderr); }

// ---- line building ---------------------------------------------------------------------

struct Piece {
  std::string text;
  bool from_actual_text = false;
};

// The visual string under construction. Pieces are appended at the end; marks of a
// right-to-left line are inserted before the last letter, each before the previous one.
// Those insertions are collected apart and spliced in once the insertion point moves on,
// so a letter carrying thousands of marks costs linear time, not quadratic.
class PieceList {
 public:
  explicit PieceList(std::size_t reserve) { main_.reserve(reserve); }

  std::size_t size() const { return main_.size() + inserted_.size(); }

  const Piece* last() {
    if (!inserted_.empty() && insert_at_ >= main_.size()) flush();
    return main_.empty() ? nullptr : &main_.back();
  }

  std::size_t push_back(Piece p) {
    if (!inserted_.empty() && insert_at_ >= main_.size()) flush();
    main_.push_back(std::move(p));
    return size() - 1;
  }

  // Inserts before logical index pos.
  void insert(std::size_t pos, Piece p) {
    if (!inserted_.empty() && pos != insert_at_) flush();
    if (inserted_.empty()) insert_at_ = std::min(pos, main_.size());
    inserted_.push_back(std::move(p));
  }

  void erase(std::size_t pos) {
    flush();
    if (pos < main_.size()) main_.erase(main_.begin() + static_cast<std::ptrdiff_t>(pos));
  }

  const std::vector<Piece>& all() {
    flush();
    return main_;
  }

 private:
  void flush() {
    if (inserted_.empty()) return;
    main_.insert(main_.begin() + static_cast<std::ptrdiff_t>(insert_at_),
                 std::make_move_iterator(inserted_.rbegin()),
                 std::make_move_iterator(inserted_.rend()));
    inserted_.clear();
  }

  std::vector<Piece> main_;
  std::vector<Piece> inserted_;  // in insertion order; logically reversed before insert_at_
  std::size_t insert_at_ = 0;
};

struct LineItem {
  const Placed* placed = nullptr;
  std::string text;
  bool from_actual_text = false;
  bool resolved = false;
};

struct PendingHamza {
  std::string letter;  // c, UTF-8
  std::string base;    // b, UTF-8
  std::size_t index = 0;
};

double along_start(const Glyph& g) {
  switch (g.rotation & 3) {
    case 1: return g.y;
    case 2: return -g.x;
    case 3: return -g.y;
    default: return g.x;
  }
}

// The larger of two ends; a NaN operand is skipped.
double later_end(double a, double b) { return std::fmax(a, b); }

std::size_t count_occurrences(std::string_view hay, std::string_view needle) {
  std::size_t n = 0;
  for (std::size_t p = hay.find(needle); p != std::string_view::npos;
       p = hay.find(needle, p + needle.size())) {
    ++n;
  }
  return n;
}

// In place: each maximal run of digits mixing sets is converted to the set that dominates.
void unify_digit_runs(std::u32string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (digit_set(s[i]) < 0) {
      ++i;
      continue;
    }
    std::size_t j = i;
    std::array<std::size_t, 3> n{0, 0, 0};
    while (j < s.size() && digit_set(s[j]) >= 0) ++n[static_cast<std::size_t>(digit_set(s[j++]))];
    const int sets = (n[0] > 0) + (n[1] > 0) + (n[2] > 0);
    if (sets > 1) {
      const auto [l, a, e] = n;
      const std::size_t target = (a > l && a >= e) ? 1 : (e > a && e > l) ? 2 : 0;
      for (std::size_t k = i; k < j; ++k) {
        const int set = digit_set(s[k]);
        s[k] = kDigitZero[target] + (s[k] - kDigitZero[static_cast<std::size_t>(set)]);
      }
    }
    i = j;
  }
}

// Drops tatweel runs that stand inside an Arabic word.
void drop_inner_tatweel(std::u32string& s) {
  std::size_t w = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] != kTatweel) {
      s[w++] = s[i++];
      continue;
    }
    std::size_t j = i;
    while (j < s.size() && s[j] == kTatweel) ++j;
    const bool inner = i > 0 && is_arabic_letter(s[i - 1]) && j < s.size() && is_arabic_letter(s[j]);
    if (!inner) {
      for (std::size_t k = i; k < j; ++k) s[w++] = kTatweel;
    }
    i = j;
  }
  s.resize(w);
}

// Drops every space immediately followed by a mark (what NFKC leaves of an isolated haraka).
void strip_mark_bases(std::u32string& s) {
  std::size_t w = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == U' ' && i + 1 < s.size() && is_mark_char(s[i + 1])) continue;
    s[w++] = s[i];
  }
  s.resize(w);
}

// Joins the non-white parts with single spaces, as UTF-8.
std::string collapse_white(const std::u32string& s) {
  std::string out;
  out.reserve(s.size() * 2);
  bool gap = false;
  for (char32_t c : s) {
    if (is_white(c)) {
      gap = !out.empty();
      continue;
    }
    if (gap) out += ' ';
    gap = false;
    append_utf8(out, c);
  }
  return out;
}

// Index of the first glyph whose style is shared (Style::merges_with) by the most glyphs.
// Merging needs equal font, colour and mode and sizes within 0.01; sorting by those keys
// lets a sliding window count the partners of every glyph in O(n log n).
std::size_t dominant_style(std::span<const Placed> glyphs) {
  const std::size_t n = glyphs.size();
  if (n <= 1) return 0;
  // Most lines are set in one style: then every glyph has the same count and the first
  // glyph wins without any sorting.
  const Style& first = glyphs.front().glyph.style;
  bool uniform = true;
  for (const Placed& p : glyphs) {
    const Style& s = p.glyph.style;
    if (s.size != first.size || s.render_mode != first.render_mode || s.font != first.font ||
        !(s.color == first.color)) {
      uniform = false;
      break;
    }
  }
  if (uniform) return 0;

  struct Key {
    std::size_t variant;
    std::array<float, 4> comps;
  };
  auto color_key = [](const Color& c) {
    Key k{c.value.index(), {0, 0, 0, 0}};
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, Gray>) k.comps = {v.g, 0, 0, 0};
          if constexpr (std::is_same_v<T, Rgb>) k.comps = {v.r, v.g, v.b, 0};
          if constexpr (std::is_same_v<T, Cmyk>) k.comps = {v.c, v.m, v.y, v.k};
        },
        c.value);
    for (float& f : k.comps) f += 0.0f;  // -0 and +0 are equal colours
    return k;
  };
  std::vector<Key> keys;
  keys.reserve(n);
  for (const Placed& p : glyphs) keys.push_back(color_key(p.glyph.style.color));

  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const Style& sa = glyphs[a].glyph.style;
    const Style& sb = glyphs[b].glyph.style;
    if (const int c = sa.font.compare(sb.font); c != 0) return c < 0;
    if (sa.render_mode != sb.render_mode) return sa.render_mode < sb.render_mode;
    if (keys[a].variant != keys[b].variant) return keys[a].variant < keys[b].variant;
    for (std::size_t k = 0; k < 4; ++k) {
      const double ca = keys[a].comps[k], cb = keys[b].comps[k];
      if (total_less(ca, cb)) return true;
      if (total_less(cb, ca)) return false;
    }
    if (total_less(sa.size, sb.size)) return true;
    if (total_less(sb.size, sa.size)) return false;
    return a < b;
  });

  std::vector<std::size_t> count(n, 0);
  std::size_t run = 0;
  while (run < n) {
    const Style& head = glyphs[order[run]].glyph.style;
    std::size_t end = run + 1;
    while (end < n) {
      const Style& s = glyphs[order[end]].glyph.style;
      if (s.font != head.font || s.render_mode != head.render_mode || !(s.color == head.color)) break;
      ++end;
    }
    // Within a run only finite sizes can merge (|a - b| < 0.01 fails for NaN and for
    // infinities); they are contiguous and ascending, and the merge window only moves right.
    if (head.color == head.color) {
      std::size_t lo = run, hi = run;
      for (std::size_t k = run; k < end; ++k) {
        const double s = glyphs[order[k]].glyph.style.size;
        if (!std::isfinite(s)) continue;
        auto merges = [&](std::size_t j) {
          return std::fabs(s - glyphs[order[j]].glyph.style.size) < 0.01;
        };
        if (lo < k && !std::isfinite(glyphs[order[lo]].glyph.style.size)) lo = k;
        while (lo < k && !merges(lo)) ++lo;
        if (hi < k) hi = k;
        while (hi < end && merges(hi)) ++hi;
        count[order[k]] = hi - lo;
      }
    }
    run = end;
  }

  std::size_t best = 0;
  for (std::size_t i = 1; i < n; ++i) {
    if (count[i] > count[best]) best = i;
  }
  return best;
}

Rect line_bbox(std::span<const Placed> glyphs) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  double x0 = kInf, y0 = kInf, x1 = -kInf, y1 = -kInf;
  auto fold = [&](double x, double y) {
    if (x < x0) x0 = x;
    if (y < y0) y0 = y;
    if (x > x1) x1 = x;
    if (y > y1) y1 = y;
  };
  for (const Placed& p : glyphs) {
    const Glyph& g = p.glyph;
    const double s = g.style.size;
    double dx = 0, dy = 0;
    switch (g.rotation & 3) {
      case 0: dx = g.width; break;
      case 1: dy = g.width; break;
      case 2: dx = -g.width; break;
      default: dy = -g.width; break;
    }
    fold(g.x, g.y - 0.25 * s);
    fold(g.x, g.y + 0.75 * s);
    fold(g.x + dx, g.y + dy);
  }
  // No finite coordinate on an axis: an empty box rather than one spanning infinity.
  if (std::isinf(x0) || std::isinf(y0)) return Rect{};
  return Rect{x0, y0, x1, y1};
}

std::optional<std::string> glyph_text(const Placed& p, const FontMap& fonts) {
  if (p.actual_text) return *p.actual_text;
  return fonts.decode(p.glyph.style.font, p.glyph.code);
}

}  // namespace

// ---- public interface ---------------------------------------------------------------

// A glyph with a real advance: at least 5% of its size (a NaN width is not one). Below that
// it is a zero-advance glyph: a mark, or a piece drawn over its neighbour.
bool is_wide(const Glyph& g) { return std::fabs(g.width) >= 0.05 * g.style.size; }

std::vector<Placed> apply_actual_text(const PageGlyphs& page) {
  std::vector<Placed> out;
  out.reserve(page.glyphs.size());
  for (const Glyph& g : page.glyphs) {
    Placed p;
    p.glyph = g;
    switch (g.rotation & 3) {
      case 0: p.u = g.x; p.v = g.y; break;
      case 1: p.u = g.y; p.v = g.x; break;
      case 2: p.u = -g.x; p.v = g.y; break;
      default: p.u = -g.y; p.v = g.x; break;
    }
    out.push_back(std::move(p));
  }
  for (const ActualText& span : page.actual_texts) {
    const std::size_t end = std::min(span.end, out.size());
    if (span.start >= end) continue;
    // The span's text is carried by its first wide glyph, so that it stands where the span
    // is drawn and takes part in space inference; a cluster that a producer starts with a
    // zero-advance mark (Chromium writes the mark before its letter) would otherwise be
    // pinned to the mark's origin, which lies in the neighbouring letter.
    std::size_t carrier = span.start;
    for (std::size_t i = span.start; i < end; ++i) {
      const Glyph& g = out[i].glyph;
      if (is_wide(g)) {
        carrier = i;
        break;
      }
    }
    for (std::size_t i = span.start; i < end; ++i) out[i].actual_text.emplace();
    out[carrier].actual_text = span.text;
  }
  return out;
}

struct Script {
  bool rtl = false;         // holds a right-to-left character
  bool latin_mark = false;  // holds a Latin combining mark (U+0300-U+036F)
};

Script script_of(std::string_view text) {
  Script s;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = next_utf8(text, i);
    if (c >= 0x0300 && c <= 0x036F) s.latin_mark = true;
    if (is_rtl_char(c)) s.rtl = true;
  }
  return s;
}

// Places an Arabic mark with the letter it belongs to. Two conventions meet here:
// - HarfBuzz-based producers (LibreOffice, XeLaTeX, Chromium) write glyphs in visual order
//   and a mark just before its base, with the mark's origin a little to the left of the
//   base's origin: inside the advance of the letter to its left, which is the following
//   letter in reading order. Sorted by origin, such a mark would land on the wrong letter.
//   When the next wide glyph in emission order starts at most 0.3 em to the right of the
//   mark's origin and the origin lies before that glyph's end, the mark belongs to it and
//   is placed at its centre.
// - Producers that write in reading order (pango) put the mark after its base, inside the
//   base's advance, sometimes far above or below the baseline. The next glyph then lies
//   further left and the first test fails; the mark keeps its position along the line but
//   takes the base's baseline, so that line grouping cannot split it off.
void attach_arabic_mark(std::span<Placed> glyphs, std::size_t i, std::string_view text) {
  const Script script = script_of(text);
  if (!script.rtl || script.latin_mark) return;
  Placed& p = glyphs[i];
  const double size = p.glyph.style.size;
  auto compatible = [&](const Placed& h) {
    return h.glyph.rotation == p.glyph.rotation && std::fabs(h.v - p.v) <= size;
  };
  const Placed* next = nullptr;
  for (std::size_t j = i + 1; j < glyphs.size() && j <= i + 4; ++j) {
    if (is_wide(glyphs[j].glyph)) {  // skipping the other marks of the same stack
      next = &glyphs[j];
      break;
    }
  }
  const Placed* prev = nullptr;
  for (std::size_t j = i; j-- > 0 && j + 4 >= i;) {
    if (is_wide(glyphs[j].glyph)) {
      prev = &glyphs[j];
      break;
    }
  }
  // Visual order shows in the stream itself: the letters around the mark advance to the
  // right. A reading-order stream runs leftwards, and its marks follow their base.
  const bool visual_order = next != nullptr && compatible(*next) &&
                            (prev == nullptr || !compatible(*prev) || prev->u < next->u);
  if (visual_order && next->u - 0.3 * size <= p.u && p.u < next->u + next->glyph.width) {
    p.u = next->u + 0.5 * next->glyph.width;
    p.v = next->v;
    p.anchored = true;
    return;
  }
  // The mark may sit at its letter's very origin, a rounding error to the right of the
  // letter before it; it then takes the letter's position so as to sort right after it.
  if (prev != nullptr && compatible(*prev) && prev->u - 0.05 * size <= p.u &&
      p.u < prev->u + prev->glyph.width) {
    p.v = prev->v;
    if (p.u < prev->u) p.u = prev->u;
  }
}

// A right-to-left producer writing in reading order may split a ligature into a wide glyph
// and a zero-advance glyph at the very same origin (pango draws lam-alef as a lam followed
// by a zero-advance alef). Equal positions keep emission order when sorted, which would
// read the pair backwards; the second glyph is put just left of its host instead.
bool attach_same_origin_letter(std::span<Placed> glyphs, std::size_t i, std::string_view text) {
  if (i == 0) return false;
  if (!script_of(text).rtl) return false;
  Placed& p = glyphs[i];
  const Placed& h = glyphs[i - 1];
  const double size = p.glyph.style.size;
  if (h.glyph.rotation != p.glyph.rotation || !is_wide(h.glyph)) return false;
  if (!(std::fabs(h.v - p.v) <= size) || !(std::fabs(h.u - p.u) <= 0.01 * size)) return false;
  p.u = std::nextafter(h.u, -std::numeric_limits<double>::infinity());
  p.v = h.v;
  p.anchored = true;
  return true;
}

void anchor_zero_advance(std::span<Placed> glyphs, const FontMap& fonts) {
  const std::size_t n = glyphs.size();
  for (std::size_t i = 0; i < n; ++i) {
    Placed& p = glyphs[i];
    const double size = p.glyph.style.size;
    // Written so that a NaN width counts as wide here: only a glyph shown to have no
    // advance is moved.
    if (!(std::fabs(p.glyph.width) < 0.05 * size)) continue;
    const std::optional<std::string> text = glyph_text(p, fonts);
    const std::string_view t = text ? std::string_view(*text) : std::string_view();
    if (is_mark_glyph(t)) {
      attach_arabic_mark(glyphs, i, t);
      continue;
    }
    if (attach_same_origin_letter(glyphs, i, t)) continue;
    const std::size_t from = i >= 8 ? i - 8 : 0;
    const std::size_t to = std::min(i + 9, n);
    for (std::size_t j = from; j < to; ++j) {
      const Placed& h = glyphs[j];
      if (!is_wide(h.glyph)) continue;
      if (!(std::fabs(h.v - p.v) <= size)) continue;
      if (!(h.u < p.u && p.u < h.u + h.glyph.width)) continue;
      p.u = h.u;
      p.v = h.v;
      p.anchored = true;
      break;
    }
  }
}

std::vector<std::vector<Placed>> group_into_lines(std::span<const Placed> glyphs) {
  std::vector<std::vector<Placed>> lines;
  if (glyphs.empty()) return lines;
  std::vector<const Placed*> sorted;
  sorted.reserve(glyphs.size());
  for (const Placed& p : glyphs) sorted.push_back(&p);
  std::stable_sort(sorted.begin(), sorted.end(), [](const Placed* a, const Placed* b) {
    if (total_less(b->v, a->v)) return true;
    if (total_less(a->v, b->v)) return false;
    return total_less(a->u, b->u);
  });
  // Each glyph is compared with the one above it in the line, not only with the line's
  // first: scripts set on a cascading baseline (Urdu Nastaliq) step down a word's letters
  // by up to half an em, in steps the tolerance admits. The line's total height is capped
  // at one em so that such steps cannot chain two lines set at the usual spacing.
  double top_v = sorted.front()->v;
  double ref_v = top_v;
  std::uint8_t ref_rot = sorted.front()->glyph.rotation;
  lines.emplace_back();
  for (const Placed* p : sorted) {
    if (p != sorted.front()) {
      const double size = p->glyph.style.size;
      const double tolerance = std::fmax(0.3 * size, 0.5);
      const double height = std::fmax(1.0 * size, 0.5);
      if (p->glyph.rotation != ref_rot || !(std::fabs(p->v - ref_v) <= tolerance) ||
          !(std::fabs(top_v - p->v) <= height)) {
        lines.emplace_back();
        top_v = p->v;
        ref_rot = p->glyph.rotation;
      }
    }
    lines.back().push_back(*p);
    ref_v = p->v;
  }
  return lines;
}

double median_text_size(std::span<const Placed> glyphs) {
  if (glyphs.empty()) return 10.0;
  std::vector<double> sizes;
  sizes.reserve(glyphs.size());
  for (const Placed& p : glyphs) sizes.push_back(p.glyph.style.size);
  const auto mid = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
  std::nth_element(sizes.begin(), mid, sizes.end(), total_less);
  return *mid;
}

bool is_mark_glyph(std::string_view text) {
  if (text.empty()) return false;
  // ASCII is its own NFKC form and holds no mark: the common Latin case costs one scan.
  if (all_ascii(text)) return false;
  std::string normalised;
  std::string_view s = text;
  if (const icu::Normalizer2* n = nfkc()) {
    UErrorCode e = U_ZERO_ERROR;
    const icu::StringPiece piece(text.data(), static_cast<int32_t>(text.size()));
    if (!n->isNormalizedUTF8(piece, e) || U_FAILURE(e)) {
      e = U_ZERO_ERROR;
      icu::StringByteSink<std::string> sink(&normalised);
      n->normalizeUTF8(0, piece, sink, nullptr, e);
      if (U_SUCCESS(e)) s = normalised;
    }
  }
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i == s.size()) return false;
  while (i < s.size()) {
    if (!is_mark_char(next_utf8(s, i))) return false;
  }
  return true;
}

std::optional<TextLine> build_line(std::span<const Placed> glyphs, const FontMap& fonts) {
  if (glyphs.empty()) return std::nullopt;
  DebugFlag debug;

  // 1. Visual order (left to right along the baseline) and decoding.
  std::vector<const Placed*> order;
  order.reserve(glyphs.size());
  for (const Placed& p : glyphs) order.push_back(&p);
  std::stable_sort(order.begin(), order.end(),
                   [](const Placed* a, const Placed* b) { return total_less(a->u, b->u); });

  std::vector<LineItem> items;
  items.reserve(order.size());
  bool rtl = false;
  bool paints_spaces = false;
  for (const Placed* p : order) {
    LineItem item;
    item.placed = p;
    if (p->actual_text) {
      item.text = *p->actual_text;
      item.from_actual_text = true;
      item.resolved = true;
    } else if (auto decoded = fonts.decode(p->glyph.style.font, p->glyph.code)) {
      item.text = std::move(*decoded);
      item.resolved = true;
    } else {
      item.text = "\xEF\xBF\xBD";
    }
    if (!rtl && has_rtl(item.text)) rtl = true;
    if (!paints_spaces && only_white(item.text)) paints_spaces = true;
    items.push_back(std::move(item));
  }
  // A line that paints its own spaces needs a wider gap before one is inferred.
  const double gap_factor = paints_spaces ? 0.25 : 0.15;

  // 2. Walk the items into pieces.
  PieceList pieces(items.size() + items.size() / 4);
  double previous_end = 0;
  bool seen = false;
  std::optional<PendingHamza> pending;
  std::size_t mark_slot = 0;
  bool last_was_letter = false;
  std::size_t unresolved = 0;

  for (LineItem& item : items) {
    const Glyph& g = item.placed->glyph;
    const double start = along_start(g);
    const double end = start + g.width;
    const double size = g.style.size;
    const bool wide = is_wide(g);

    // Ghosts (the silent glyphs of an ActualText span, explicit U+FFFD) keep their place.
    if (item.resolved && empty_or_replacement(item.text)) {
      previous_end = seen ? later_end(previous_end, end) : end;
      seen = true;
      continue;
    }
    if (!item.resolved) ++unresolved;
    const bool is_mark = is_mark_glyph(item.text);

    if (seen && wide) {
      const double gap = start - previous_end;
      const Piece* last = pieces.last();
      const bool after_space = last && !last->from_actual_text && last->text == " ";
      if (!after_space && gap > gap_factor * size) {
        pieces.push_back(Piece{" ", false});
        last_was_letter = false;
      }
    }
    const double new_end = seen ? later_end(previous_end, end) : end;

    if (item.placed->anchored && only_white(item.text)) {
      previous_end = new_end;
      seen = true;
      continue;
    }

    // A hamza letter drawn as its own zero-advance glyph joins the letter it sits on.
    if (pending && wide) {
      std::optional<std::string> merged;
      if (item.text.find(pending->letter) != std::string::npos) {
        merged = item.text;  // the precomposed letter was drawn twice
      } else if (count_occurrences(item.text, pending->base) == 1) {
        merged = item.text;
        merged->replace(merged->find(pending->base), pending->base.size(), pending->letter);
      }
      if (merged) {
        const std::vector<Piece>& all = pieces.all();
        if (debug.on()) {
          const std::string at = pending->index < all.size()
                                     ? "Some(" + debug_quote(all[pending->index].text) + ")"
                                     : "None";
          write_stderr("MERGE slot=" + std::to_string(pending->index) + " at_slot=" + at +
                       " host=" + debug_quote(item.text) + " -> " + debug_quote(*merged) +
                       " len=" + std::to_string(all.size()) + "\n");
        }
        pieces.erase(pending->index);
        mark_slot = pieces.push_back(Piece{std::move(*merged), false});
        last_was_letter = true;
        pending.reset();
        previous_end = new_end;
        seen = true;
        continue;
      }
    }

    std::size_t index;
    if (is_mark && last_was_letter && rtl) {
      // Before the last letter, so that reordering puts it after that letter.
      index = std::min(mark_slot, pieces.size());
      pieces.insert(index, Piece{item.text, item.from_actual_text});
    } else if (is_mark) {
      index = pieces.push_back(Piece{item.text, item.from_actual_text});
    } else {
      index = pieces.push_back(Piece{item.text, item.from_actual_text});
      mark_slot = index;
      last_was_letter = true;
    }

    pending.reset();
    if (!wide) {
      if (const auto c = single_cp(item.text)) {
        if (const auto bm = base_and_mark(*c)) {
          PendingHamza h;
          append_utf8(h.letter, *c);
          append_utf8(h.base, bm->first);
          h.index = index;
          pending = std::move(h);
        }
      }
    }
    previous_end = new_end;
    seen = true;
  }

  // 3. The visual string. A multi-character piece holding right-to-left letters is in
  // logical order already (a ligature's ToUnicode text); it is turned around so that the
  // reordering of the whole line puts it back.
  const std::vector<Piece>& all = pieces.all();
  std::u32string visual;
  visual.reserve(glyphs.size() * 2);
  std::u32string piece_cps;
  for (const Piece& piece : all) {
    piece_cps.clear();
    bool reverse = false;
    for (std::size_t i = 0; i < piece.text.size();) {
      const char32_t c = next_utf8(piece.text, i);
      if (is_rtl_char(c) && digit_set(c) < 0) reverse = true;
      piece_cps.push_back(c);
    }
    if (reverse && piece_cps.size() >= 2) {
      visual.append(piece_cps.rbegin(), piece_cps.rend());
    } else {
      visual.append(piece_cps);
    }
  }

  // 4. Mixed digit runs take one digit set.
  unify_digit_runs(visual);

  // 5. Logical order.
  std::u16string visual16;
  visual16.reserve(visual.size() + 8);
  for (char32_t c : visual) {
    if (c <= 0xFFFF) {
      visual16.push_back(static_cast<char16_t>(c));
    } else {
      visual16.push_back(static_cast<char16_t>(U16_LEAD(c)));
      visual16.push_back(static_cast<char16_t>(U16_TRAIL(c)));
    }
  }
  const std::u16string logical = bidi::visual_to_logical(visual16, rtl);

  // 6. NFKC, once for the whole line.
  const icu::UnicodeString src(false, reinterpret_cast<const UChar*>(logical.data()),
                               static_cast<int32_t>(logical.size()));
  icu::UnicodeString folded;
  bool normalised = false;
  if (const icu::Normalizer2* n = nfkc()) {
    UErrorCode e = U_ZERO_ERROR;
    n->normalize(src, folded, e);
    normalised = U_SUCCESS(e);
  }
  const icu::UnicodeString& text16 = normalised ? folded : src;
  std::u32string text;
  text.reserve(static_cast<std::size_t>(text16.length()));
  for (int32_t i = 0; i < text16.length();) {
    const UChar32 c = text16.char32At(i);
    text.push_back(static_cast<char32_t>(c));
    i += U16_LENGTH(c);
  }

  // 7-9. Tatweel inside words, spaces before isolated marks, white space.
  drop_inner_tatweel(text);
  strip_mark_bases(text);
  std::string result = collapse_white(text);

  if (result.find("\u0625\u0625") != std::string::npos && debug.on()) {
    std::string list = "PIECES: [";
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (i) list += ", ";
      list += debug_quote(all[i].text);
    }
    list += "]\n";
    write_stderr(list);
  }

  if (result.empty()) return std::nullopt;
  TextLine line;
  line.text = std::move(result);
  line.style = glyphs[dominant_style(glyphs)].glyph.style;
  line.baseline = glyphs.front().glyph.y;
  line.bbox = line_bbox(glyphs);
  line.unresolved = unresolved;
  line.glyphs = glyphs.size();
  line.rtl = rtl;
  return line;
}

std::optional<Rect> region_bbox(std::span<const TextLine> lines,
                                std::span<const std::size_t> figure_indices,
                                std::span<const Rect> figures) {
  std::optional<Rect> acc;
  auto fold = [&](const Rect& b) {
    Rect c = acc ? *acc : b;
    if (acc) {
      if (b.x0 < c.x0) c.x0 = b.x0;
      if (b.y0 < c.y0) c.y0 = b.y0;
      if (b.x1 > c.x1) c.x1 = b.x1;
      if (b.y1 > c.y1) c.y1 = b.y1;
    }
    if (c.x1 < c.x0) std::swap(c.x0, c.x1);
    if (c.y1 < c.y0) std::swap(c.y0, c.y1);
    acc = c;
  };
  for (const TextLine& l : lines) fold(l.bbox);
  for (std::size_t f : figure_indices) {
    if (f < figures.size()) fold(figures[f]);
  }
  return acc;
}

std::vector<Region> reconstruct_regions(const PageGlyphs& page, const FontMap& fonts,
                                        std::span<const Rect> figures) {
  std::vector<Region> regions;
  std::vector<Placed> prepared = apply_actual_text(page);
  const std::size_t n = prepared.size();
  if (n == 0 && figures.empty()) return regions;
  anchor_zero_advance(prepared, fonts);

  std::vector<Item> items;
  items.reserve(n + figures.size());
  for (const Placed& p : prepared) {
    const Glyph& g = p.glyph;
    const double s = g.style.size;
    if ((g.rotation & 1) == 0) {
      items.push_back(Item{g.x, g.x + g.width, g.y - 0.25 * s, g.y + 0.75 * s, s});
    } else {
      items.push_back(Item{g.x, g.x + s, g.y - 0.25 * g.width, g.y + 0.75 * g.width, s});
    }
  }
  const double figure_size = median_text_size(prepared);
  for (const Rect& f : figures) items.push_back(Item{f.x0, f.x1, f.y0, f.y1, figure_size});

  bool rtl = false;
  for (const Placed& p : prepared) {
    const std::optional<std::string> t = glyph_text(p, fonts);
    if (t && has_rtl(*t)) {
      rtl = true;
      break;
    }
  }

  const std::vector<layout::Group> groups = layout::segment(items, rtl);
  std::vector<Placed> members;
  for (const layout::Group& group : groups) {
    Region region;
    members.clear();
    members.reserve(group.size());
    for (std::size_t i : group) {
      if (i < n) {
        members.push_back(prepared[i]);
      } else {
        region.figures.push_back(i - n);
      }
    }
    for (const std::vector<Placed>& line : group_into_lines(members)) {
      if (auto built = build_line(line, fonts)) region.lines.push_back(std::move(*built));
    }
    if (region.lines.empty() && region.figures.empty()) continue;
    region.bbox = region_bbox(region.lines, region.figures, figures).value_or(Rect{});
    regions.push_back(std::move(region));
  }
  return regions;
}

std::string text_within(const PageGlyphs& page, const FontMap& fonts, const Rect& rect) {
  std::vector<Placed> prepared = apply_actual_text(page);
  anchor_zero_advance(prepared, fonts);
  std::vector<Placed> inside;
  for (Placed& p : prepared) {
    const double cx = p.glyph.x + 0.5 * p.glyph.width;
    const double y = p.glyph.y;
    if (cx >= rect.x0 && cx <= rect.x1 && y >= rect.y0 && y <= rect.y1) {
      inside.push_back(std::move(p));
    }
  }
  std::string out;
  for (const std::vector<Placed>& line : group_into_lines(inside)) {
    if (auto built = build_line(line, fonts)) {
      if (!out.empty()) out += ' ';
      out += built->text;
    }
  }
  return out;
}

std::string lines_to_text(std::span<const TextLine> lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) out += '\n';
    out += lines[i].text;
  }
  return out;
}

}  // namespace velko::arabic
