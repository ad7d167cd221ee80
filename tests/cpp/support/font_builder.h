// Tiny builders for the font programs the font tests feed the engine: sfnt (TrueType)
// containers with cmap/head/loca/glyf/maxp tables, and bare CFF programs. They write
// only what the engine reads, big-endian, with no checksums.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velko::testing {

using Buf = std::vector<std::uint8_t>;

inline void put16(Buf& b, std::uint32_t v) {
  b.push_back(std::uint8_t(v >> 8));
  b.push_back(std::uint8_t(v));
}
inline void put32(Buf& b, std::uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}
inline void append(Buf& b, const Buf& more) { b.insert(b.end(), more.begin(), more.end()); }

// An sfnt container: tables in the order added.
class Sfnt {
 public:
  Sfnt& add(const std::string& tag, Buf data) {
    tables_.emplace_back(tag, std::move(data));
    return *this;
  }
  Buf build() const {
    Buf out;
    put32(out, 0x00010000);
    put16(out, std::uint32_t(tables_.size()));
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    std::size_t offset = 12 + 16 * tables_.size();
    Buf body;
    for (const auto& [tag, data] : tables_) {
      for (std::size_t i = 0; i < 4; ++i) out.push_back(std::uint8_t(i < tag.size() ? tag[i] : ' '));
      put32(out, 0);
      put32(out, std::uint32_t(offset + body.size()));
      put32(out, std::uint32_t(data.size()));
      append(body, data);
      while (body.size() % 4) body.push_back(0);
    }
    append(out, body);
    return out;
  }

 private:
  std::vector<std::pair<std::string, Buf>> tables_;
};

// A format 4 subtable with one idDelta segment per character (plus the final 0xFFFF
// segment), so any character -> glyph mapping can be written.
inline Buf cmap_format4(const std::map<std::uint16_t, std::uint16_t>& map) {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> segs(map.begin(), map.end());
  segs.emplace_back(0xFFFF, 0);  // maps U+FFFF to glyph 0, which records nothing
  std::uint32_t n = std::uint32_t(segs.size());
  Buf b;
  put16(b, 4);
  put16(b, 16 + 8 * n);
  put16(b, 0);
  put16(b, 2 * n);
  put16(b, 0);
  put16(b, 0);
  put16(b, 0);
  for (auto& s : segs) put16(b, s.first);  // endCode
  put16(b, 0);
  for (auto& s : segs) put16(b, s.first);  // startCode
  for (auto& s : segs) put16(b, std::uint16_t(s.second - s.first));  // idDelta
  for (std::uint32_t i = 0; i < n; ++i) put16(b, 0);                 // idRangeOffset
  return b;
}

struct Group12 {
  std::uint32_t start, end, glyph;
};
inline Buf cmap_format12(const std::vector<Group12>& groups) {
  Buf b;
  put16(b, 12);
  put16(b, 0);
  put32(b, std::uint32_t(16 + 12 * groups.size()));
  put32(b, 0);
  put32(b, std::uint32_t(groups.size()));
  for (const auto& g : groups) {
    put32(b, g.start);
    put32(b, g.end);
    put32(b, g.glyph);
  }
  return b;
}

struct Encoding16 {
  std::uint16_t platform, encoding;
  Buf subtable;
};
inline Buf cmap_table(const std::vector<Encoding16>& records) {
  Buf b;
  put16(b, 0);
  put16(b, std::uint32_t(records.size()));
  std::size_t offset = 4 + 8 * records.size();
  Buf body;
  for (const auto& r : records) {
    put16(b, r.platform);
    put16(b, r.encoding);
    put32(b, std::uint32_t(offset + body.size()));
    append(body, r.subtable);
  }
  append(b, body);
  return b;
}

// One glyph outline: the glyf header values (xMax included), or an empty glyph.
struct Outline {
  std::int16_t contours = 1, x_min = 0, y_min = 0, x_max = 100, y_max = 100;
};

// head + loca (long offsets) + glyf + maxp for the given glyphs.
inline void add_outlines(Sfnt& sfnt, const std::vector<std::optional<Outline>>& glyphs) {
  Buf head(54, 0);
  head[51] = 1;  // indexToLocFormat 1: long offsets
  Buf loca, glyf;
  for (const auto& g : glyphs) {
    put32(loca, std::uint32_t(glyf.size()));
    if (!g) continue;
    put16(glyf, std::uint16_t(g->contours));
    put16(glyf, std::uint16_t(g->x_min));
    put16(glyf, std::uint16_t(g->y_min));
    put16(glyf, std::uint16_t(g->x_max));
    put16(glyf, std::uint16_t(g->y_max));
    put16(glyf, 0);  // a little body so every record is over ten bytes
  }
  put32(loca, std::uint32_t(glyf.size()));
  Buf maxp;
  put32(maxp, 0x00005000);
  put16(maxp, std::uint32_t(glyphs.size()));
  sfnt.add("head", head).add("loca", loca).add("glyf", glyf).add("maxp", maxp);
}

// A TrueType program whose (3,1) character map is `map` (character -> glyph).
inline Buf truetype_with_cmap(const std::map<std::uint16_t, std::uint16_t>& map) {
  Sfnt s;
  s.add("cmap", cmap_table({{3, 1, cmap_format4(map)}}));
  return s.build();
}

}  // namespace velko::testing
