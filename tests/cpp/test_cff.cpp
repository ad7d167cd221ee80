#include <gtest/gtest.h>

#include "cff.h"
#include "font_builder.h"

using namespace velko;
using namespace velko::cff;
using namespace velko::testing;

namespace {

using Names = std::unordered_map<std::uint32_t, std::string>;

// charset format 0 for the given SIDs of glyphs 1, 2, ...
Buf charset0(std::initializer_list<std::uint16_t> sids) {
  Buf b{0};
  for (auto s : sids) put16(b, s);
  return b;
}

// encoding format 0 giving codes to glyphs 1, 2, ...
Buf encoding0(std::initializer_list<std::uint8_t> codes, std::uint8_t format = 0) {
  Buf b{format, std::uint8_t(codes.size())};
  for (auto c : codes) b.push_back(c);
  return b;
}

}  // namespace

TEST(CffTest, GlyphNames) {
  struct Case {
    const char* label;
    CffSpec spec;
    Names want;
  };
  const Case cases[] = {
      {"format 0 charset and encoding",
       {{}, 3, charset0({34, 35}), {}, encoding0({0x41, 0x42}), {}, false},
       {{0x41, "A"}, {0x42, "B"}}},
      {"custom strings", {{"alefarabic", "uni0644"}, 3, charset0({391, 392}), {}, encoding0({0x10, 0x11}), {}, false},
       {{0x10, "alefarabic"}, {0x11, "uni0644"}}},
      {"SID past the String INDEX gives no name",
       {{"alefarabic"}, 3, charset0({391, 392}), {}, encoding0({0x10, 0x11}), {}, false},
       {{0x10, "alefarabic"}}},
      {"codes beyond the glyph count are not recorded",
       {{}, 2, charset0({34}), {}, encoding0({0x41, 0x42}), {}, false}, {{0x41, "A"}}},
      {"later code pair wins", {{}, 3, charset0({34, 35}), {}, encoding0({0x41, 0x41}), {}, false},
       {{0x41, "B"}}},
      {"ISOAdobe charset", {{}, 3, {}, 0, encoding0({0x61, 0x62}), {}, false},
       {{0x61, "space"}, {0x62, "exclam"}}},
      {"no charset operator means ISOAdobe", {{}, 3, {}, {}, encoding0({0x61}), {}, false},
       {{0x61, "space"}}},
      {"expert charset refused", {{}, 3, {}, 1, encoding0({0x61}), {}, false}, {}},
      {"predefined Standard encoding gives no names", {{}, 3, charset0({34, 35}), {}, {}, 0, false}, {}},
      {"predefined Expert encoding gives no names", {{}, 3, charset0({34, 35}), {}, {}, 1, false}, {}},
      {"no encoding operator", {{}, 3, charset0({34, 35}), {}, {}, {}, false}, {}},
      {"CID-keyed", {{}, 3, charset0({34, 35}), {}, encoding0({0x41, 0x42}), {}, true}, {}},
      {"charset format 1",
       {{}, 5, Buf{1, 0, 34, 1, 0, 66, 5}, {}, encoding0({1, 2, 3, 4}), {}, false},
       {{1, "A"}, {2, "B"}, {3, "a"}, {4, "b"}}},
      {"charset format 2", {{}, 4, Buf{2, 0, 34, 0, 2}, {}, encoding0({1, 2, 3}), {}, false},
       {{1, "A"}, {2, "B"}, {3, "C"}}},
      {"charset ranges running out", {{}, 5, Buf{1, 0, 34, 1}, {}, encoding0({1}), {}, false, true}, {}},
      {"charset SID above 0xFFFF", {{}, 4, Buf{1, 0xFF, 0xFE, 5}, {}, encoding0({1}), {}, false}, {}},
      {"encoding placed before the charset",
       {{}, 3, charset0({34, 35}), {}, encoding0({0x41, 0x42}), {}, false, true},
       {{0x41, "A"}, {0x42, "B"}}},
      {"charset format 3", {{}, 3, Buf{3, 0, 34, 0, 35}, {}, encoding0({1}), {}, false}, {}},
      {"truncated charset format 0", {{}, 3, Buf{0, 0, 34}, {}, encoding0({1}), {}, false, true}, {}},
      {"encoding format 1",
       {{}, 5, charset0({34, 35, 36, 37}), {}, Buf{1, 2, 0x41, 1, 0xFE, 3}, {}, false},
       {{0x41, "A"}, {0x42, "B"}, {0xFE, "C"}, {0xFF, "D"}}},
      {"encoding format 1 with too few ranges",
       {{}, 5, charset0({34, 35, 36, 37}), {}, Buf{1, 2, 0x41, 1}, {}, false}, {}},
      {"encoding with supplements",
       {{}, 2, charset0({34}), {}, Buf{0x80, 1, 0x41, 1, 0x61, 0, 66}, {}, false}, {{0x41, "A"}}},
      {"encoding with missing supplements",
       {{}, 2, charset0({34}), {}, Buf{0x80, 1, 0x41, 1, 0x61}, {}, false}, {}},
      {"encoding format 2", {{}, 2, charset0({34}), {}, Buf{2, 1, 0x41}, {}, false}, {}},
      {"truncated encoding", {{}, 3, charset0({34, 35}), {}, Buf{0, 2, 0x41}, {}, false}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(glyph_names(cff_program(c.spec)), c.want) << c.label;
}

TEST(CffTest, RejectedPrograms) {
  Buf good = cff_program({{}, 3, charset0({34, 35}), {}, encoding0({0x41, 0x42}), {}, false});
  ASSERT_FALSE(glyph_names(good).empty());
  Buf opentype = good;
  opentype[0] = 'O';
  EXPECT_TRUE(glyph_names(opentype).empty());
  EXPECT_TRUE(glyph_names(Buf{1, 0}).empty());
  EXPECT_TRUE(glyph_names(Buf{}).empty());
  for (std::size_t n = 0; n < good.size(); ++n)
    EXPECT_TRUE(glyph_names(Buf(good.begin(), good.begin() + std::ptrdiff_t(n))).empty()) << n;
}

TEST(CffTest, IndexRead) {
  Buf three = cff_index({cff_str("ab"), cff_str(""), cff_str("xyz")}, 1);
  auto idx = Index::read(three, 0);
  ASSERT_TRUE(idx.has_value());
  EXPECT_EQ(idx->count(), 3u);
  EXPECT_EQ(idx->offsets, (std::vector<std::size_t>{7, 9, 9, 12}));
  EXPECT_EQ(idx->end, three.size());
  ASSERT_TRUE(idx->element(2).has_value());
  EXPECT_EQ(Buf(idx->element(2)->begin(), idx->element(2)->end()), cff_str("xyz"));
  EXPECT_FALSE(idx->element(3).has_value());

  Buf prefixed{9, 9};
  append(prefixed, cff_index({cff_str("q")}, 2));
  auto at2 = Index::read(prefixed, 2);
  ASSERT_TRUE(at2.has_value());
  EXPECT_EQ(at2->offsets, (std::vector<std::size_t>{9, 10}));

  auto empty = Index::read(Buf{0, 0}, 0);
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->count(), 0u);
  EXPECT_EQ(empty->end, 2u);

  Buf bad_size = three;
  bad_size[2] = 5;
  EXPECT_FALSE(Index::read(bad_size, 0).has_value());
  bad_size[2] = 0;
  EXPECT_FALSE(Index::read(bad_size, 0).has_value());
  EXPECT_FALSE(Index::read(Buf(three.begin(), three.end() - 1), 0).has_value());  // data cut
  EXPECT_FALSE(Index::read(Buf{0}, 0).has_value());
  EXPECT_FALSE(Index::read(Buf{0, 1}, 0).has_value());  // offSize missing
  EXPECT_FALSE(Index::read(three, 100).has_value());
  // A count of 65535 with nothing behind it is refused before anything is reserved.
  EXPECT_FALSE(Index::read(Buf{0xFF, 0xFF, 4}, 0).has_value());
}

TEST(CffTest, ParseDict) {
  Buf d{139, 0,  // 0 -> operator 0
        28, 0xFF, 0xFE, 247, 0, 251, 0, 1,  // -2, 108, -108 -> operator 1
        29, 0, 1, 0, 0, 12, 30,  // 65536 -> operator 12 30
        30, 0x1A, 0x2F, 5,  // a real: no operand
        32, 246, 2, 22, 255, 31, 4,  // -107, 107 (reserved bytes skipped) -> operator 2, 4 empty
        139, 3, 140, 3,  // the later operator 3 replaces the earlier one
        150};  // dangling operand: dropped
  Dict dict = parse_dict(d);
  EXPECT_EQ(dict.at(0), (std::vector<std::int32_t>{0}));
  EXPECT_EQ(dict.at(1), (std::vector<std::int32_t>{-2, 108, -108}));
  EXPECT_EQ(dict.at(0x0C1E), (std::vector<std::int32_t>{65536}));
  EXPECT_EQ(dict.at(5), (std::vector<std::int32_t>{}));
  EXPECT_EQ(dict.at(2), (std::vector<std::int32_t>{-107, 107}));
  EXPECT_EQ(dict.at(4), (std::vector<std::int32_t>{}));
  EXPECT_EQ(dict.at(3), (std::vector<std::int32_t>{1}));
  EXPECT_EQ(dict.size(), 7u);
  // Truncated multi-byte operands are dropped.
  EXPECT_EQ(parse_dict(Buf{28, 1, 17}), Dict{});
  EXPECT_EQ(parse_dict(Buf{139, 28, 1}), Dict{});
  EXPECT_EQ(parse_dict(Buf{247}), Dict{});
  EXPECT_EQ(parse_dict(Buf{12}), Dict{});
}

TEST(CffTest, RealOperandCountsAsAbsent) {
  // CharStrings offset written as a real: the operator has no first operand.
  CffSpec spec{{}, 3, charset0({34, 35}), {}, encoding0({0x41, 0x42}), {}, false};
  Buf prog = cff_program(spec);
  auto top = Index::read(prog, Index::read(prog, 4)->end);
  ASSERT_TRUE(top.has_value());
  std::size_t at = top->offsets[0];
  // The DICT starts with the five-byte CharStrings offset; make it a real instead.
  prog[at] = 30;
  prog[at + 1] = 0x1F;
  for (int k = 2; k < 5; ++k) prog[at + std::size_t(k)] = 0xFF;  // reserved bytes, skipped
  EXPECT_EQ(parse_dict(Buf(prog.begin() + std::ptrdiff_t(at), prog.begin() + std::ptrdiff_t(top->offsets[1]))).at(17),
            (std::vector<std::int32_t>{}));
  EXPECT_TRUE(glyph_names(prog).empty());
}

TEST(CffTest, SidToName) {
  Buf strings_buf = cff_index({cff_str("custom"), cff_str("bad\xff")});
  auto strings = Index::read(strings_buf, 0);
  ASSERT_TRUE(strings.has_value());
  struct Case {
    std::uint32_t sid;
    std::optional<std::string> want;
  };
  const Case cases[] = {{0, ".notdef"}, {1, "space"}, {34, "A"}, {66, "a"}, {95, "asciitilde"},
                        {149, "germandbls"}, {229, "exclamsmall"}, {379, "001.000"},
                        {390, "Semibold"}, {391, "custom"}, {392, "bad\xEF\xBF\xBD"},
                        {393, std::nullopt}, {70000, std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(sid_to_name(c.sid, *strings), c.want) << c.sid;
}

TEST(CffTest, CharsetAndEncodingReaders) {
  Buf p{0, 0, 34, 0, 35};
  EXPECT_EQ(read_charset(p, true, 0, 3), (std::vector<std::uint16_t>{0, 1, 2}));
  EXPECT_EQ(read_charset(p, false, 99, 3), (std::vector<std::uint16_t>{0, 1, 2}));
  EXPECT_EQ(read_charset(p, true, 2, 3), std::nullopt);
  EXPECT_EQ(read_charset(p, true, 5, 3), std::nullopt);
  EXPECT_EQ(read_charset(Buf{7, 0, 34}, true, 1 + 0, 3), std::nullopt);  // offset 1: Expert
  Buf q{9, 9, 9, 0, 0, 34, 0, 35};
  EXPECT_EQ(read_charset(q, true, 3, 3), (std::vector<std::uint16_t>{0, 34, 35}));
  EXPECT_EQ(read_charset(q, true, 2, 3), std::nullopt);  // offset 2: Expert subset
  Buf r{9, 9, 9, 1};
  EXPECT_EQ(read_charset(r, true, 3, 1), (std::vector<std::uint16_t>{0}));  // fewer than 2 glyphs
  // A glyph count of 65535 with no charset data behind it fails without reserving much.
  EXPECT_EQ(read_charset(Buf{9, 9, 9, 0}, true, 3, 65535), std::nullopt);

  EXPECT_EQ(read_encoding(p, true, 0, 3)->size(), 0u);
  EXPECT_EQ(read_encoding(p, true, 1, 3)->size(), 0u);
  EXPECT_EQ(read_encoding(p, false, 7, 3)->size(), 0u);
  EXPECT_EQ(read_encoding(p, true, 5, 3), std::nullopt);
}
