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

// A format 0 (byte encoding) character map subtable: code -> glyph for codes 0..255.
inline Buf cmap_format0(const std::map<std::uint8_t, std::uint8_t>& map) {
  Buf b;
  put16(b, 0);
  put16(b, 262);
  put16(b, 0);
  for (int c = 0; c < 256; ++c) {
    auto it = map.find(std::uint8_t(c));
    b.push_back(it == map.end() ? 0 : it->second);
  }
  return b;
}

// A format 6 (trimmed table) subtable covering codes first .. first + glyphs.size() - 1.
inline Buf cmap_format6(std::uint16_t first, const std::vector<std::uint16_t>& glyphs) {
  Buf b;
  put16(b, 6);
  put16(b, std::uint32_t(10 + 2 * glyphs.size()));
  put16(b, 0);
  put16(b, first);
  put16(b, std::uint32_t(glyphs.size()));
  for (auto g : glyphs) put16(b, g);
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
  head[18] = 0x03;  // unitsPerEm 1000
  head[19] = 0xE8;
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

// A CFF INDEX of the given elements with offSize bytes per offset.
inline Buf cff_index(const std::vector<Buf>& items, int off_size = 4) {
  Buf b;
  put16(b, std::uint32_t(items.size()));
  if (items.empty()) return b;
  b.push_back(std::uint8_t(off_size));
  std::uint32_t offset = 1;
  auto put_offset = [&](std::uint32_t v) {
    for (int i = off_size - 1; i >= 0; --i) b.push_back(std::uint8_t(v >> (8 * i)));
  };
  put_offset(offset);
  for (const auto& it : items) put_offset(offset += std::uint32_t(it.size()));
  for (const auto& it : items) append(b, it);
  return b;
}

inline Buf cff_str(const std::string& s) { return Buf(s.begin(), s.end()); }

// A DICT integer operand in its five-byte form, so that offsets can be patched in
// without changing the DICT's size.
inline void cff_int(Buf& b, std::int32_t v) {
  b.push_back(29);
  put32(b, std::uint32_t(v));
}

// A bare CFF program: header, Name, Top DICT, String and CharStrings INDEXes, then the
// charset and encoding bytes. charset/encoding hold either bytes (written after the
// CharStrings, their offsets put in the Top DICT) or a predefined offset (0, 1, 2).
struct CffSpec {
  std::vector<std::string> strings;
  std::size_t glyphs = 1;
  std::optional<Buf> charset;
  std::optional<std::int32_t> charset_offset;
  std::optional<Buf> encoding;
  std::optional<std::int32_t> encoding_offset;
  bool cid_keyed = false;
  bool encoding_first = false;  // so that a truncated charset ends the program
};

inline Buf cff_program(const CffSpec& spec) {
  auto top_dict = [&](std::int32_t charstrings, std::int32_t charset, std::int32_t encoding) {
    Buf d;
    if (spec.cid_keyed) {
      cff_int(d, 391);
      cff_int(d, 392);
      cff_int(d, 0);
      d.push_back(12);
      d.push_back(30);
    }
    cff_int(d, charstrings);
    d.push_back(17);
    if (spec.charset || spec.charset_offset) {
      cff_int(d, charset);
      d.push_back(15);
    }
    if (spec.encoding || spec.encoding_offset) {
      cff_int(d, encoding);
      d.push_back(16);
    }
    return d;
  };
  Buf header{1, 0, 4, 4};
  Buf names = cff_index({cff_str("Test")});
  std::vector<Buf> strings;
  for (const auto& s : spec.strings) strings.push_back(cff_str(s));
  Buf string_index = cff_index(strings);
  std::vector<Buf> glyphs(spec.glyphs, Buf{14});
  Buf charstrings = cff_index(glyphs);

  std::size_t top_size = cff_index({top_dict(0, 0, 0)}).size();
  std::size_t cs_at = header.size() + names.size() + top_size + string_index.size();
  std::size_t charset_at = cs_at + charstrings.size();
  std::size_t encoding_at = charset_at + (spec.charset ? spec.charset->size() : 0);
  if (spec.encoding_first) {
    encoding_at = charset_at;
    charset_at = encoding_at + (spec.encoding ? spec.encoding->size() : 0);
  }
  Buf top = cff_index({top_dict(std::int32_t(cs_at),
                                spec.charset ? std::int32_t(charset_at) : spec.charset_offset.value_or(0),
                                spec.encoding ? std::int32_t(encoding_at)
                                              : spec.encoding_offset.value_or(0))});
  Buf out = header;
  append(out, names);
  append(out, top);
  append(out, string_index);
  append(out, charstrings);
  if (spec.encoding && spec.encoding_first) append(out, *spec.encoding);
  if (spec.charset) append(out, *spec.charset);
  if (spec.encoding && !spec.encoding_first) append(out, *spec.encoding);
  return out;
}

}  // namespace velko::testing
