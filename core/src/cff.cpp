#include "cff.h"

#include <array>
#include <string_view>

#include "types.h"

namespace velko::cff {

namespace {

// The predefined strings of the Compact Font Format, SIDs 0 to 390.
constexpr std::array<std::string_view, 391> kStandardStrings = {
    ".notdef", "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand",
    "quoteright", "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period",
    "slash", "zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
    "colon", "semicolon", "less", "equal", "greater", "question", "at", "A", "B", "C", "D", "E",
    "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T", "U", "V", "W", "X",
    "Y", "Z", "bracketleft", "backslash", "bracketright", "asciicircum", "underscore",
    "quoteleft", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p",
    "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "braceleft", "bar", "braceright",
    "asciitilde", "exclamdown", "cent", "sterling", "fraction", "yen", "florin", "section",
    "currency", "quotesingle", "quotedblleft", "guillemotleft", "guilsinglleft", "guilsinglright",
    "fi", "fl", "endash", "dagger", "daggerdbl", "periodcentered", "paragraph", "bullet",
    "quotesinglbase", "quotedblbase", "quotedblright", "guillemotright", "ellipsis",
    "perthousand", "questiondown", "grave", "acute", "circumflex", "tilde", "macron", "breve",
    "dotaccent", "dieresis", "ring", "cedilla", "hungarumlaut", "ogonek", "caron", "emdash", "AE",
    "ordfeminine", "Lslash", "Oslash", "OE", "ordmasculine", "ae", "dotlessi", "lslash", "oslash",
    "oe", "germandbls", "onesuperior", "logicalnot", "mu", "trademark", "Eth", "onehalf",
    "plusminus", "Thorn", "onequarter", "divide", "brokenbar", "degree", "thorn", "threequarters",
    "twosuperior", "registered", "minus", "eth", "multiply", "threesuperior", "copyright",
    "Aacute", "Acircumflex", "Adieresis", "Agrave", "Aring", "Atilde", "Ccedilla", "Eacute",
    "Ecircumflex", "Edieresis", "Egrave", "Iacute", "Icircumflex", "Idieresis", "Igrave",
    "Ntilde", "Oacute", "Ocircumflex", "Odieresis", "Ograve", "Otilde", "Scaron", "Uacute",
    "Ucircumflex", "Udieresis", "Ugrave", "Yacute", "Ydieresis", "Zcaron", "aacute",
    "acircumflex", "adieresis", "agrave", "aring", "atilde", "ccedilla", "eacute", "ecircumflex",
    "edieresis", "egrave", "iacute", "icircumflex", "idieresis", "igrave", "ntilde", "oacute",
    "ocircumflex", "odieresis", "ograve", "otilde", "scaron", "uacute", "ucircumflex",
    "udieresis", "ugrave", "yacute", "ydieresis", "zcaron", "exclamsmall", "Hungarumlautsmall",
    "dollaroldstyle", "dollarsuperior", "ampersandsmall", "Acutesmall", "parenleftsuperior",
    "parenrightsuperior", "twodotenleader", "onedotenleader", "zerooldstyle", "oneoldstyle",
    "twooldstyle", "threeoldstyle", "fouroldstyle", "fiveoldstyle", "sixoldstyle",
    "sevenoldstyle", "eightoldstyle", "nineoldstyle", "commasuperior", "threequartersemdash",
    "periodsuperior", "questionsmall", "asuperior", "bsuperior", "centsuperior", "dsuperior",
    "esuperior", "isuperior", "lsuperior", "msuperior", "nsuperior", "osuperior", "rsuperior",
    "ssuperior", "tsuperior", "ff", "ffi", "ffl", "parenleftinferior", "parenrightinferior",
    "Circumflexsmall", "hyphensuperior", "Gravesmall", "Asmall", "Bsmall", "Csmall", "Dsmall",
    "Esmall", "Fsmall", "Gsmall", "Hsmall", "Ismall", "Jsmall", "Ksmall", "Lsmall", "Msmall",
    "Nsmall", "Osmall", "Psmall", "Qsmall", "Rsmall", "Ssmall", "Tsmall", "Usmall", "Vsmall",
    "Wsmall", "Xsmall", "Ysmall", "Zsmall", "colonmonetary", "onefitted", "rupiah", "Tildesmall",
    "exclamdownsmall", "centoldstyle", "Lslashsmall", "Scaronsmall", "Zcaronsmall",
    "Dieresissmall", "Brevesmall", "Caronsmall", "Dotaccentsmall", "Macronsmall", "figuredash",
    "hypheninferior", "Ogoneksmall", "Ringsmall", "Cedillasmall", "questiondownsmall",
    "oneeighth", "threeeighths", "fiveeighths", "seveneighths", "onethird", "twothirds",
    "zerosuperior", "foursuperior", "fivesuperior", "sixsuperior", "sevensuperior",
    "eightsuperior", "ninesuperior", "zeroinferior", "oneinferior", "twoinferior",
    "threeinferior", "fourinferior", "fiveinferior", "sixinferior", "seveninferior",
    "eightinferior", "nineinferior", "centinferior", "dollarinferior", "periodinferior",
    "commainferior", "Agravesmall", "Aacutesmall", "Acircumflexsmall", "Atildesmall",
    "Adieresissmall", "Aringsmall", "AEsmall", "Ccedillasmall", "Egravesmall", "Eacutesmall",
    "Ecircumflexsmall", "Edieresissmall", "Igravesmall", "Iacutesmall", "Icircumflexsmall",
    "Idieresissmall", "Ethsmall", "Ntildesmall", "Ogravesmall", "Oacutesmall", "Ocircumflexsmall",
    "Otildesmall", "Odieresissmall", "OEsmall", "Oslashsmall", "Ugravesmall", "Uacutesmall",
    "Ucircumflexsmall", "Udieresissmall", "Yacutesmall", "Thornsmall", "Ydieresissmall",
    "001.000", "001.001", "001.002", "001.003", "Black", "Bold", "Book", "Light", "Medium",
    "Regular", "Roman", "Semibold",
};

std::uint32_t read_be(Span b, std::size_t at, std::size_t n) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = v << 8 | b[at + i];
  return v;
}

bool fits(Span b, std::size_t at, std::size_t n) { return at <= b.size() && n <= b.size() - at; }

std::optional<std::size_t> first_operand(const Dict& dict, std::uint16_t op) {
  auto it = dict.find(op);
  if (it == dict.end() || it->second.empty()) return std::nullopt;
  // A negative offset can only point outside the program.
  if (it->second.front() < 0) return std::size_t(-1);
  return std::size_t(it->second.front());
}

}  // namespace

std::optional<Index> Index::read(Span data, std::size_t pos) {
  if (!fits(data, pos, 2)) return std::nullopt;
  std::size_t count = read_be(data, pos, 2);
  Index index;
  index.data = data;
  if (count == 0) {
    index.end = pos + 2;
    return index;
  }
  if (!fits(data, pos + 2, 1)) return std::nullopt;
  std::size_t off_size = data[pos + 2];
  if (off_size < 1 || off_size > 4) return std::nullopt;
  // The whole offset array must be present before anything is reserved for it.
  if (!fits(data, pos + 3, (count + 1) * off_size)) return std::nullopt;
  std::size_t base = pos + 2 + (count + 1) * off_size;
  index.offsets.reserve(count + 1);
  for (std::size_t k = 0; k <= count; ++k)
    index.offsets.push_back(read_be(data, pos + 3 + k * off_size, off_size) + base);
  if (index.offsets.back() > data.size()) return std::nullopt;
  index.end = index.offsets.back();
  return index;
}

std::optional<Span> Index::element(std::size_t k) const {
  if (k + 1 >= offsets.size()) return std::nullopt;
  std::size_t start = offsets[k], stop = offsets[k + 1];
  if (start > stop || stop > data.size()) return std::nullopt;
  return data.subspan(start, stop - start);
}

Dict parse_dict(Span d) {
  Dict dict;
  std::vector<std::int32_t> operands;
  std::size_t i = 0, n = d.size();
  while (i < n) {
    std::uint8_t b = d[i];
    if (b <= 21) {
      std::uint16_t op = b;
      ++i;
      if (b == 12) {
        if (i >= n) break;  // an escape with no second byte closes nothing
        op = std::uint16_t(0x0C00 + d[i++]);
      }
      dict[op] = std::move(operands);
      operands.clear();
    } else if (b == 28) {
      if (fits(d, i + 1, 2)) operands.push_back(std::int16_t(read_be(d, i + 1, 2)));
      i += 3;
    } else if (b == 29) {
      if (fits(d, i + 1, 4)) operands.push_back(std::int32_t(read_be(d, i + 1, 4)));
      i += 5;
    } else if (b == 30) {
      ++i;
      while (i < n) {
        std::uint8_t v = d[i++];
        if ((v >> 4) == 0xF || (v & 0xF) == 0xF) break;
      }
    } else if (b >= 32 && b <= 246) {
      operands.push_back(std::int32_t(b) - 139);
      ++i;
    } else if (b >= 247 && b <= 250) {
      if (i + 1 < n) operands.push_back((std::int32_t(b) - 247) * 256 + d[i + 1] + 108);
      i += 2;
    } else if (b >= 251 && b <= 254) {
      if (i + 1 < n) operands.push_back(-(std::int32_t(b) - 251) * 256 - d[i + 1] - 108);
      i += 2;
    } else {
      ++i;  // reserved
    }
  }
  return dict;
}

std::optional<std::string> sid_to_name(std::uint32_t sid, const Index& strings) {
  if (sid < kStandardStrings.size()) return std::string(kStandardStrings[sid]);
  auto e = strings.element(sid - kStandardStrings.size());
  if (!e) return std::nullopt;
  return lossy_utf8(std::string_view(reinterpret_cast<const char*>(e->data()), e->size()));
}

std::optional<std::vector<std::uint16_t>> read_charset(Span p, bool present, std::size_t offset,
                                                       std::size_t glyph_count) {
  std::vector<std::uint16_t> sids{0};
  if (!present || offset == 0) {
    // ISOAdobe: glyph i has SID i. Glyph counts come from a validated INDEX, so this
    // is bounded by the program's size.
    sids.reserve(glyph_count);
    for (std::size_t g = 1; g < glyph_count; ++g) sids.push_back(std::uint16_t(g));
    return sids;
  }
  if (offset == 1 || offset == 2) return std::nullopt;
  if (offset >= p.size()) return std::nullopt;
  std::uint8_t format = p[offset];
  if (format > 2) return std::nullopt;
  if (glyph_count < 2) return sids;
  std::size_t want = glyph_count - 1;
  std::size_t at = offset + 1;
  if (format == 0) {
    if (!fits(p, at, want * 2)) return std::nullopt;
    sids.reserve(glyph_count);
    for (std::size_t g = 0; g < want; ++g) sids.push_back(std::uint16_t(read_be(p, at + 2 * g, 2)));
    return sids;
  }
  std::size_t left_size = format == 1 ? 1 : 2;
  sids.reserve(glyph_count);
  while (sids.size() < glyph_count) {
    if (!fits(p, at, 2 + left_size)) return std::nullopt;
    std::uint32_t first = read_be(p, at, 2);
    std::uint32_t n_left = read_be(p, at + 2, left_size);
    at += 2 + left_size;
    for (std::uint32_t k = 0; k <= n_left && sids.size() < glyph_count; ++k) {
      std::uint32_t sid = first + k;
      if (sid > 0xFFFF) return std::nullopt;
      sids.push_back(std::uint16_t(sid));
    }
  }
  return sids;
}

std::optional<std::vector<std::pair<std::uint8_t, std::uint16_t>>> read_encoding(
    Span p, bool present, std::size_t offset, std::size_t glyph_count) {
  std::vector<std::pair<std::uint8_t, std::uint16_t>> pairs;
  if (!present || offset == 0 || offset == 1) return pairs;
  if (offset >= p.size()) return std::nullopt;
  std::uint8_t format_byte = p[offset];
  std::uint8_t format = format_byte & 0x7F;
  std::size_t at = offset + 1;
  if (format == 0) {
    if (!fits(p, at, 1)) return std::nullopt;
    std::size_t n_codes = p[at++];
    if (!fits(p, at, n_codes)) return std::nullopt;
    for (std::size_t k = 1; k <= n_codes; ++k)
      if (k < glyph_count) pairs.emplace_back(p[at + k - 1], std::uint16_t(k));
    at += n_codes;
  } else if (format == 1) {
    if (!fits(p, at, 1)) return std::nullopt;
    std::size_t n_ranges = p[at++];
    if (!fits(p, at, 2 * n_ranges)) return std::nullopt;
    std::size_t glyph = 1;
    for (std::size_t r = 0; r < n_ranges; ++r) {
      std::size_t first = p[at], n_left = p[at + 1];
      at += 2;
      for (std::size_t k = 0; k <= n_left; ++k, ++glyph) {
        std::size_t code = first + k;
        if (glyph < glyph_count && code < 256)
          pairs.emplace_back(std::uint8_t(code), std::uint16_t(glyph));
      }
    }
  } else {
    return std::nullopt;
  }
  if (format_byte & 0x80) {
    if (!fits(p, at, 1)) return std::nullopt;
    std::size_t n_sups = p[at++];
    if (!fits(p, at, 3 * n_sups)) return std::nullopt;
  }
  return pairs;
}

std::unordered_map<std::uint32_t, std::string> glyph_names(Span p) {
  std::unordered_map<std::uint32_t, std::string> names;
  if (p.size() <= 2 || p[0] != 1) return names;
  auto name_index = Index::read(p, p[2]);
  if (!name_index) return names;
  auto top_index = Index::read(p, name_index->end);
  if (!top_index) return names;
  auto strings = Index::read(p, top_index->end);
  if (!strings) return names;
  auto top_bytes = top_index->element(0);
  if (!top_bytes) return names;
  Dict top = parse_dict(*top_bytes);
  if (top.count(0x0C1E)) return names;  // CID-keyed: codes are not glyph names

  auto char_strings_at = first_operand(top, 17);
  if (!char_strings_at) return names;
  auto char_strings = Index::read(p, *char_strings_at);
  if (!char_strings) return names;
  std::size_t glyph_count = char_strings->count();

  auto charset_at = first_operand(top, 15);
  auto charset = read_charset(p, charset_at.has_value(), charset_at.value_or(0), glyph_count);
  if (!charset) return names;
  auto encoding_at = first_operand(top, 16);
  auto encoding = read_encoding(p, encoding_at.has_value(), encoding_at.value_or(0), glyph_count);
  if (!encoding) return names;

  for (const auto& [code, glyph] : *encoding) {
    if (glyph >= charset->size()) continue;
    if (auto name = sid_to_name((*charset)[glyph], *strings)) names[code] = std::move(*name);
  }
  return names;
}

}  // namespace velko::cff
