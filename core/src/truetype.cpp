#include "truetype.h"

#include <algorithm>

#include "types.h"

namespace velko {

namespace {

using Span = std::span<const std::uint8_t>;

std::uint16_t u16(Span b, std::size_t at) { return std::uint16_t(b[at] << 8 | b[at + 1]); }
std::uint32_t u32(Span b, std::size_t at) {
  return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
         std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}
// Whether n bytes can be read at `at` (overflow-safe).
bool fits(Span b, std::size_t at, std::size_t n) { return at <= b.size() && n <= b.size() - at; }

bool is_scalar(std::uint32_t c) { return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }
bool is_private_use(std::uint32_t c) {
  return (c >= 0xE000 && c <= 0xF8FF) || (c >= 0xF0000 && c <= 0xFFFFD) ||
         (c >= 0x100000 && c <= 0x10FFFD);
}
// Adds one (character, glyph) pair of the character map, keeping one character per glyph:
// a presentation form beats a plain character, otherwise the smaller code point wins.
void record(GlyphUnicode& map, std::uint32_t c, std::uint32_t glyph) {
  if (glyph == 0 || glyph > 0xFFFF) return;
  if (!is_scalar(c) || is_private_use(c)) return;
  auto old = map.get(std::uint16_t(glyph));
  if (old) {
    bool old_pf = is_presentation_form(*old), new_pf = is_presentation_form(c);
    if (old_pf != new_pf) {
      if (!new_pf) return;
    } else if (c >= *old) {
      return;
    }
  }
  map.set(std::uint16_t(glyph), char32_t(c));
}

// A well-formed character map has disjoint segments or groups, so it can never name more
// characters than its format can address (the BMP for format 4, all of Unicode for
// format 12); overlapping ranges in a hostile program could otherwise make the walk cost
// billions of steps. Past the budget the rest of the subtable is ignored.
constexpr std::size_t kFormat4Budget = 0x10000;
constexpr std::size_t kFormat12Budget = 0x110000;

void read_format4(Span st, GlyphUnicode& map) {
  std::size_t budget = kFormat4Budget;
  if (st.size() < 8) return;
  std::size_t seg_x2 = u16(st, 6);
  std::size_t seg_count = seg_x2 / 2;
  for (std::size_t i = 0; i < seg_count; ++i) {
    std::size_t end_at = 14 + 2 * i, start_at = 16 + seg_x2 + 2 * i;
    std::size_t delta_at = 16 + 2 * seg_x2 + 2 * i, range_at = 16 + 3 * seg_x2 + 2 * i;
    // The idRangeOffset array comes last; once it runs out, so do all the others.
    if (!fits(st, range_at, 2)) return;
    std::uint32_t end = u16(st, end_at), start = u16(st, start_at);
    std::uint16_t delta = u16(st, delta_at), range = u16(st, range_at);
    if (end < start) continue;
    for (std::uint32_t c = start; c <= end; ++c) {
      if (budget-- == 0) return;
      std::uint32_t glyph;
      if (range == 0) {
        glyph = (c + delta) & 0xFFFF;
      } else {
        std::size_t at = range_at + range + 2 * std::size_t(c - start);
        if (!fits(st, at, 2)) continue;
        std::uint16_t entry = u16(st, at);
        if (entry == 0) continue;
        glyph = (entry + delta) & 0xFFFF;
      }
      record(map, c, glyph);
    }
  }
}

void read_format12(Span st, GlyphUnicode& map) {
  std::size_t budget = kFormat12Budget;
  if (st.size() < 16) return;
  std::size_t groups = std::min<std::size_t>(u32(st, 12), (st.size() - 16) / 12);
  for (std::size_t j = 0; j < groups; ++j) {
    std::uint32_t start = u32(st, 16 + 12 * j), end = u32(st, 20 + 12 * j);
    std::uint32_t first_glyph = u32(st, 24 + 12 * j);
    if (end < start) continue;
    // Bounded to 65536 characters per group: no group can reach more glyphs than exist.
    std::uint32_t span = std::min<std::uint32_t>(end - start, 0xFFFF);
    for (std::uint32_t k = 0; k <= span; ++k) {
      std::uint64_t glyph = std::uint64_t(first_glyph) + k;
      if (glyph > 0xFFFF) break;
      if (budget-- == 0) return;
      record(map, start + k, std::uint32_t(glyph));
    }
  }
}

// The head/loca/glyf tables, located once so that many glyphs can be read cheaply.
class Outlines {
 public:
  explicit Outlines(Span font) {
    auto head = table(font, "head");
    if (!head || head->size() <= 51) return;
    format_ = u16(*head, 50);
    if (format_ > 1) return;
    auto loca = table(font, "loca");
    if (!loca) return;
    loca_ = *loca;
    glyf_ = table(font, "glyf");
  }

  std::optional<OutlineHeader> header(std::uint16_t glyph) const {
    auto at = record(glyph);
    if (!at) return std::nullopt;
    const Span& g = *glyf_;
    OutlineHeader h;
    h.contours = std::int16_t(u16(g, *at));
    h.x_min = std::int16_t(u16(g, *at + 2));
    h.y_min = std::int16_t(u16(g, *at + 4));
    h.y_max = std::int16_t(u16(g, *at + 8));
    return h;
  }

  std::optional<std::int16_t> x_max(std::uint16_t glyph) const {
    auto at = record(glyph);
    if (!at) return std::nullopt;
    return std::int16_t(u16(*glyf_, *at + 6));
  }

 private:
  // Start of the glyph's glyf record, when it holds at least the ten-byte header.
  std::optional<std::size_t> record(std::uint16_t glyph) const {
    if (format_ > 1 || loca_.empty()) return std::nullopt;
    std::size_t start, end;
    if (format_ == 0) {
      std::size_t at = 2 * std::size_t(glyph);
      if (!fits(loca_, at, 4)) return std::nullopt;
      start = std::size_t(u16(loca_, at)) * 2;
      end = std::size_t(u16(loca_, at + 2)) * 2;
    } else {
      std::size_t at = 4 * std::size_t(glyph);
      if (!fits(loca_, at, 8)) return std::nullopt;
      start = u32(loca_, at);
      end = u32(loca_, at + 4);
    }
    if (start >= end) return std::nullopt;
    if (!glyf_ || end > glyf_->size() || end - start < 10) return std::nullopt;
    return start;
  }

  std::uint16_t format_ = 0xFFFF;
  Span loca_;
  std::optional<Span> glyf_;
};

}  // namespace

void GlyphUnicode::set(std::uint16_t glyph, char32_t c) {
  if (glyph >= by_glyph_.size()) by_glyph_.resize(std::size_t(glyph) + 1, kNone);
  if (by_glyph_[glyph] == kNone) ++count_;
  by_glyph_[glyph] = c;
}

std::vector<std::pair<std::uint16_t, char32_t>> GlyphUnicode::iter() const {
  std::vector<std::pair<std::uint16_t, char32_t>> out;
  out.reserve(count_);
  for_each([&](std::uint16_t g, char32_t c) { out.emplace_back(g, c); });
  return out;
}

std::optional<Span> table(Span font, std::string_view tag) {
  if (tag.size() != 4 || font.size() < 6) return std::nullopt;
  std::size_t n = std::min<std::size_t>(u16(font, 4), font.size() / 16);
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t at = 12 + 16 * i;
    if (!fits(font, at, 16)) return std::nullopt;
    if (std::equal(tag.begin(), tag.end(), font.begin() + std::ptrdiff_t(at))) {
      std::size_t offset = u32(font, at + 8), length = u32(font, at + 12);
      if (!fits(font, offset, length)) return std::nullopt;
      return font.subspan(offset, length);
    }
  }
  return std::nullopt;
}

std::optional<OutlineHeader> glyph_outline(Span font, std::uint16_t glyph) {
  return Outlines(font).header(glyph);
}

GlyphUnicode glyph_unicode(Span font) {
  GlyphUnicode map;
  if (font.size() < 6) return map;
  auto cmap = table(font, "cmap");
  if (!cmap || cmap->size() < 4) return map;
  std::size_t records = u16(*cmap, 2);
  if (records == 0) return map;
  int best_priority = 0;
  std::size_t best_offset = 0;
  for (std::size_t i = 0; i < records; ++i) {
    std::size_t at = 4 + 8 * i;
    if (!fits(*cmap, at, 8)) return map;
    std::uint16_t platform = u16(*cmap, at), encoding = u16(*cmap, at + 2);
    std::size_t offset = u32(*cmap, at + 4);
    if (platform != 3 || offset > cmap->size()) continue;
    int priority = encoding == 1 ? 1 : encoding == 10 ? 2 : 0;
    if (priority > best_priority) {
      best_priority = priority;
      best_offset = offset;
    }
  }
  if (best_priority == 0) return map;
  Span st = cmap->subspan(best_offset);
  if (st.size() < 2) return map;
  switch (u16(st, 0)) {
    case 4: read_format4(st, map); break;
    case 12: read_format12(st, map); break;
    default: break;
  }

  // Kashidas of other lengths are separate glyphs with no character of their own; they
  // share the tatweel's contours and vertical extent and differ only in xMax.
  std::optional<std::uint16_t> tatweel;
  map.for_each([&](std::uint16_t g, char32_t c) {
    if (!tatweel && c == 0x0640) tatweel = g;
  });
  if (!tatweel) return map;
  Outlines outlines(font);
  auto pattern = outlines.header(*tatweel);
  if (!pattern || pattern->contours < 1) return map;
  auto maxp = table(font, "maxp");
  if (!maxp || maxp->size() < 6) return map;
  std::uint16_t count = u16(*maxp, 4);
  for (std::uint32_t g = 0; g < count; ++g) {
    if (map.contains(std::uint16_t(g))) continue;
    auto h = outlines.header(std::uint16_t(g));
    if (h && *h == *pattern) map.set(std::uint16_t(g), 0x0640);
  }
  return map;
}

namespace {

// Glyph of one character code in a format 4 subtable, or 0.
std::uint16_t format4_glyph(Span st, std::uint32_t c) {
  if (st.size() < 8) return 0;
  const std::size_t seg_x2 = u16(st, 6);
  for (std::size_t i = 0; 2 * i < seg_x2; ++i) {
    const std::size_t end_at = 14 + 2 * i, start_at = 16 + seg_x2 + 2 * i;
    const std::size_t delta_at = 16 + 2 * seg_x2 + 2 * i, range_at = 16 + 3 * seg_x2 + 2 * i;
    if (!fits(st, range_at, 2)) return 0;
    const std::uint32_t end = u16(st, end_at), start = u16(st, start_at);
    if (c < start || c > end) continue;
    const std::uint16_t delta = u16(st, delta_at), range = u16(st, range_at);
    if (range == 0) return std::uint16_t(c + delta);
    const std::size_t at = range_at + range + 2 * (c - start);
    if (!fits(st, at, 2) || u16(st, at) == 0) return 0;
    return std::uint16_t(u16(st, at) + delta);
  }
  return 0;
}

std::uint16_t byte_subtable_glyph(Span st, std::uint32_t c) {
  if (st.size() < 2) return 0;
  switch (u16(st, 0)) {
    case 0:
      return c < 256 && fits(st, 6 + c, 1) ? st[6 + c] : 0;
    case 4:
      return format4_glyph(st, c);
    case 6: {
      if (st.size() < 10) return 0;
      const std::uint32_t first = u16(st, 6), count = u16(st, 8);
      if (c < first || c - first >= count || !fits(st, 10 + 2 * (c - first), 2)) return 0;
      return u16(st, 10 + 2 * (c - first));
    }
    default:
      return 0;
  }
}

}  // namespace

std::array<std::uint16_t, 256> simple_code_glyphs(Span font) {
  std::array<std::uint16_t, 256> out{};
  auto cmap = table(font, "cmap");
  if (!cmap || cmap->size() < 4) return out;
  std::optional<Span> symbol, mac;
  const std::size_t records = u16(*cmap, 2);
  for (std::size_t i = 0; i < records; ++i) {
    const std::size_t at = 4 + 8 * i;
    if (!fits(*cmap, at, 8)) break;
    const std::uint16_t platform = u16(*cmap, at), encoding = u16(*cmap, at + 2);
    const std::size_t offset = u32(*cmap, at + 4);
    if (offset >= cmap->size()) continue;
    if (platform == 3 && encoding == 0 && !symbol) symbol = cmap->subspan(offset);
    if (platform == 1 && encoding == 0 && !mac) mac = cmap->subspan(offset);
  }
  for (std::uint32_t code = 0; code < 256; ++code) {
    std::uint16_t g = 0;
    if (symbol) {
      g = byte_subtable_glyph(*symbol, 0xF000 + code);
      if (g == 0) g = byte_subtable_glyph(*symbol, code);
    }
    if (g == 0 && mac) g = byte_subtable_glyph(*mac, code);
    out[code] = g;
  }
  return out;
}

bool is_baseline_bar(Span font, std::uint16_t glyph) {
  auto head = table(font, "head");
  if (!head || head->size() < 20) return false;
  const double em = u16(*head, 18);
  if (em < 16) return false;
  Outlines outlines(font);
  auto h = outlines.header(glyph);
  auto x_max = outlines.x_max(glyph);
  if (!h || !x_max || h->contours != 1) return false;
  const double thick = double(h->y_max) - double(h->y_min);
  const double length = double(*x_max) - double(h->x_min);
  return thick > 0 && thick <= 0.15 * em && length >= 2.5 * thick && h->y_min >= -0.15 * em &&
         h->y_max > 0 && h->y_max <= 0.2 * em;
}

}  // namespace velko
