#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "content.h"

using namespace velko;
using namespace std::string_literals;

namespace {

// Widths by (font, code); anything not listed has the default.
class TestWidths : public GlyphWidths {
 public:
  explicit TestWidths(double fallback = 0.5) : fallback_(fallback) {}
  TestWidths& set(std::string font, std::uint32_t code, double w) {
    table_[{std::move(font), code}] = w;
    return *this;
  }
  double width(std::string_view font, std::uint32_t code) const override {
    auto it = table_.find({std::string(font), code});
    return it == table_.end() ? fallback_ : it->second;
  }

 private:
  std::map<std::pair<std::string, std::uint32_t>, double> table_;
  double fallback_;
};

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

FontInfo font(std::string name, std::string subtype = "TrueType") {
  FontInfo f;
  f.name = std::move(name);
  f.subtype = std::move(subtype);
  return f;
}

PageGlyphs interpret(std::string_view content, const std::vector<FontInfo>& fonts = {},
                     const std::vector<RawForm>& forms = {},
                     const GlyphWidths& widths = TestWidths()) {
  return interpret_with_forms(bytes(content), fonts, forms, widths);
}

// Renders decoded operations compactly: op(operand operand ...), one per line.
void describe_operand(const Operand*& p, std::string& out) {
  std::string scratch;
  switch (p->kind) {
    case OperandKind::Null: out += "null"; break;
    case OperandKind::Boolean: out += p->integer ? "true" : "false"; break;
    case OperandKind::Integer: out += "i" + std::to_string(p->integer); break;
    case OperandKind::Real: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "r%g", static_cast<double>(p->real));
      out += buf;
      break;
    }
    case OperandKind::Name: out += "/" + std::string(p->name_bytes(scratch)); break;
    case OperandKind::String:
    case OperandKind::HexString: out += "'" + std::string(p->string_bytes(scratch)) + "'"; break;
    case OperandKind::InlineImage: out += "image:" + std::to_string(p->raw.size()); break;
    case OperandKind::Array:
    case OperandKind::Dictionary: {
      bool array = p->kind == OperandKind::Array;
      const Operand* end = p->next();
      out += array ? "[" : "<<";
      const Operand* q = p + 1;
      bool first = true;
      while (q < end) {
        if (!first) out += " ";
        first = false;
        describe_operand(q, out);
      }
      out += array ? "]" : ">>";
      p = end;
      return;
    }
  }
  ++p;
}

std::string describe(std::string_view data) {
  Content c;
  if (!tokenize_content(data, c)) return "FAIL";
  std::string out;
  for (std::size_t i = 0; i < c.size(); ++i) {
    Operation op = c.operation(i);
    out += std::string(op.op) + "(";
    const Operand* p = op.operands.data();
    const Operand* end = p + op.operands.size();
    bool first = true;
    while (p < end) {
      if (!first) out += " ";
      first = false;
      describe_operand(p, out);
    }
    out += ")\n";
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Tokenizer

TEST(Tokenizer, DecodesOperandsAndOperators) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"1 2 re", "re(i1 i2)\n"},
      {"(a\\)b\\\\c\\n\\101\\0612\\q) Tj", "Tj('a)b\\c\nA12q')\n"},
      {"(a(b)c) Tj", "Tj('a(b)c')\n"},
      {"(line\r\nbreak\rx) Tj", "Tj('line\nbreak\nx')\n"},
      {"(split\\\r\nline\\\nend) Tj", "Tj('splitlineend')\n"},
      {"(\\7\\077\\1234) Tj", std::string("Tj('\x07?S4')\n")},
      {"<48 65 6C6C\n6F> Tj <414> Tj <> Tj", "Tj('Hello')\nTj('A@')\nTj('')\n"},
      {"[(a) -20 [1 [2]] << /K [/V] >>] TJ", "TJ(['a' i-20 [i1 [i2]] <</K [/V]>>])\n"},
      {"/Na#6De 12 Tf /#zz Tf / Tf", "Tf(/Name i12)\nTf(/#zz)\nTf(/)\n"},
      {"% comment (not a string\nq %another\r\nQ", "q()\nQ()\n"},
      {"1.5 -.5 +3 4. -0 5 Td", "Td(r1.5 r-0.5 i3 r4 i0 i5)\n"},
      {"true false null X", "X(true false null)\n"},
      {"1 2 3", ""},
      {"q 1 2", "q()\n"},
      {"1.2.3 --5 - +", "1.2.3()\n--5()\n-()\n+()\n"},
      {"99999999999999999999 Tz", "Tz(i9223372036854775807)\n"},
      {"/P<</MCID 0>>BDC", "BDC(/P <</MCID i0>>)\n"},
      {"[(x)]TJ(y)Tj", "TJ(['x'])\nTj('y')\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(describe(c.input), c.expected) << c.input;
  }
}

TEST(Tokenizer, InlineImagesAreNotTokenised) {
  struct Case {
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      // Binary data holding delimiters and an operator-like EI that is not followed by text.
      {"q BI /W 2 /H 1 /BPC 8 ID \x00(\xff EI\x01\x02 [ EI Q"s,
       "q()\nBI()\nID(/W i2 /H i1 /BPC i8)\nEI(image:10)\nQ()\n"},
      // A declared length is trusted, even over an EI inside the data.
      {"BI /L 6 ID a EI b EI Tj", "BI()\nID(/L i6)\nEI(image:6)\nTj()\n"},
      // No candidate followed by text: the first free-standing EI ends the data.
      {"BI ID xx EI \x01", "BI()\nID()\nEI(image:2)\n\x01()\n"},
      // EI glued to other letters is data.
      {"BI ID EIX xEI EI (s) Tj", "BI()\nID()\nEI(image:7)\nTj('s')\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(describe(c.input), c.expected) << c.input;
}

TEST(Tokenizer, RejectsBytesThatCannotBeTokenised) {
  const std::string cases[] = {
      "(abc",  "(a(b) Tj",   "<414",    "[1 2",   "<< /a 1",  "BT ] ET",  ">> q", "[ >> ]",
      "<< ]",  "<4G> Tj",    ") Tj",    "{ } q",  "[ Tj ]",   "<< /a q >>", "BI ID xxx",
      "q > Q", std::string("\x78\x9c\x2b\x28\xca\xcf", 6) + "(" + std::string(40, '\x8f'),
  };
  for (const auto& c : cases) EXPECT_EQ(describe(c), "FAIL") << c;
}

TEST(Tokenizer, DeepNestingNeedsNoRecursion) {
  std::string deep(200000, '[');
  deep += std::string(200000, ']') + " TJ";
  Content c;
  ASSERT_TRUE(tokenize_content(deep, c));
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c.operation(0).operands.size(), 200000u);
  EXPECT_EQ(c.operation(0).operands[0].span, 199999u);
}

TEST(Content, UntokenisablePageGivesNothing) {
  PageGlyphs g = interpret("BT /F1 12 Tf (a) Tj 0 0 100 1 re f /Im0 Do (unterminated");
  EXPECT_TRUE(g.glyphs.empty());
  EXPECT_TRUE(g.ruled_lines.empty());
  EXPECT_TRUE(g.xobjects.empty());
}

// ---------------------------------------------------------------------------------------
// Text

TEST(Content, TextStateOperators) {
  TestWidths w(0.5);
  struct Case {
    std::string ops;       // run after "BT /F1 10 Tf"
    double width;          // of the first glyph
    double second_x;       // where the second glyph starts
  };
  const Case cases[] = {
      {"(ab) Tj", 5, 5},
      {"50 Tz (ab) Tj", 2.5, 2.5},
      {"50 Tz Tz (ab) Tj", 5, 5},
      {"2 Tc (ab) Tj", 5, 7},
      {"2 Tc Tc (ab) Tj", 5, 5},
      {"3 Tw (a b) Tj", 5, 5},           // word spacing only after the space
      {"3 Tw 50 Tz 1 Tc (ab) Tj", 2.5, 3},
  };
  for (const auto& c : cases) {
    PageGlyphs g = interpret("BT /F1 10 Tf " + c.ops + " ET", {font("F1")}, {}, w);
    ASSERT_GE(g.glyphs.size(), 2u) << c.ops;
    EXPECT_DOUBLE_EQ(g.glyphs[0].width, c.width) << c.ops;
    EXPECT_DOUBLE_EQ(g.glyphs[1].x, c.second_x) << c.ops;
  }
  // Word spacing: the space's own advance carries it.
  PageGlyphs g = interpret("BT /F1 10 Tf 3 Tw (a b) Tj ET", {font("F1")}, {}, w);
  ASSERT_EQ(g.glyphs.size(), 3u);
  EXPECT_DOUBLE_EQ(g.glyphs[2].x, 13);
}

TEST(Content, RenderModes) {
  const std::pair<std::string, RenderMode> cases[] = {
      {"3 Tr", RenderMode::Invisible}, {"9 Tr", RenderMode::Fill},
      {"-1 Tr", RenderMode::Fill},     {"1 Tr Tr", RenderMode::Fill},
      {"2.9 Tr", RenderMode::FillStroke}, {"7 Tr", RenderMode::Clip},
      {"7.99 Tr", RenderMode::Clip},   {"-0.5 Tr", RenderMode::Fill},
      {"99999999999999999999 Tr", RenderMode::Fill},
  };
  for (const auto& [ops, mode] : cases) {
    PageGlyphs g = interpret("BT /F1 10 Tf " + ops + " (a) Tj ET");
    ASSERT_EQ(g.glyphs.size(), 1u) << ops;
    EXPECT_EQ(g.glyphs[0].style.render_mode, mode) << ops;
  }
}

TEST(Content, TJNumbersMoveTheTextPosition) {
  TestWidths w(0.6);
  PageGlyphs tj = interpret("BT /F1 10 Tf [(A) -500 (B)] TJ ET", {}, {}, w);
  PageGlyphs two = interpret("BT /F1 10 Tf (A) Tj (B) Tj ET", {}, {}, w);
  ASSERT_EQ(tj.glyphs.size(), 2u);
  ASSERT_EQ(two.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(tj.glyphs[1].x - two.glyphs[1].x, 5);
  // Scaling applies to the offset; other elements are ignored.
  PageGlyphs scaled = interpret("BT /F1 10 Tf 50 Tz [(A) 1000 /x [2] (B)] TJ ET", {}, {}, w);
  ASSERT_EQ(scaled.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(scaled.glyphs[1].x, 0.6 * 10 * 0.5 - 5);
}

TEST(Content, CompositeFontsReadTwoByteCodes) {
  TestWidths w(0.5);
  std::vector<FontInfo> fonts = {font("F0", "Type0"), font("F1"), font("F0", "TrueType")};
  PageGlyphs g = interpret("BT /F0 10 Tf 4 Tw <010200> Tj <0020> Tj ET", fonts, {}, w);
  ASSERT_EQ(g.glyphs.size(), 2u);
  EXPECT_EQ(g.glyphs[0].code, 0x0102u);
  EXPECT_EQ(g.glyphs[1].code, 0x20u);
  EXPECT_DOUBLE_EQ(g.glyphs[1].x, 5);
  // Code 32 is not a space in a composite font: no word spacing.
  PageGlyphs g2 = interpret("BT /F0 10 Tf 4 Tw <0020> Tj <0041> Tj ET", fonts, {}, w);
  ASSERT_EQ(g2.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(g2.glyphs[1].x, 5);
  // With a one-byte font, byte 32 gets word spacing.
  PageGlyphs g3 = interpret("BT /F1 10 Tf 4 Tw ( A) Tj ET", fonts, {}, w);
  ASSERT_EQ(g3.glyphs.size(), 2u);
  EXPECT_EQ(g3.glyphs[0].code, 32u);
  EXPECT_DOUBLE_EQ(g3.glyphs[1].x, 9);
  // An unknown font is one-byte.
  EXPECT_EQ(interpret("BT /F9 10 Tf <0102> Tj ET", fonts, {}, w).glyphs.size(), 2u);
}

TEST(Content, RotationFollowsTheBaseline) {
  const std::pair<std::string, int> cases[] = {
      {"1 0 0 1 0 0", 0},   {"0 1 -1 0 0 0", 1}, {"-1 0 0 -1 0 0", 2},
      {"0 -1 1 0 0 0", 3},  {"0.7 0.71 -0.71 0.7 0 0", 1},  // 45.4 degrees rounds to 1
      {"0.71 0.7 -0.7 0.71 0 0", 0}, {"0 0 0 0 0 0", 0},
  };
  for (const auto& [cm, rot] : cases) {
    PageGlyphs g = interpret(cm + " cm BT /F1 10 Tf (a) Tj ET");
    ASSERT_EQ(g.glyphs.size(), 1u) << cm;
    EXPECT_EQ(g.glyphs[0].rotation, rot) << cm;
  }
  // The text matrix turns the baseline as well.
  PageGlyphs g = interpret("BT /F1 1 Tf 0 -12 12 0 100 100 Tm (a) Tj ET");
  EXPECT_EQ(g.glyphs[0].rotation, 3);
}

TEST(Content, SizeOriginAndWidthInPageSpace) {
  TestWidths w(0.5);
  PageGlyphs a = interpret("BT /F1 1 Tf 12 0 0 12 100 200 Tm (a) Tj ET", {}, {}, w);
  PageGlyphs b = interpret("BT /F1 12 Tf 1 0 0 1 100 200 Tm (a) Tj ET", {}, {}, w);
  for (const PageGlyphs* g : {&a, &b}) {
    ASSERT_EQ(g->glyphs.size(), 1u);
    EXPECT_DOUBLE_EQ(g->glyphs[0].style.size, 12);
    EXPECT_DOUBLE_EQ(g->glyphs[0].width, 6);
    EXPECT_DOUBLE_EQ(g->glyphs[0].x, 100);
    EXPECT_DOUBLE_EQ(g->glyphs[0].y, 200);
    EXPECT_EQ(g->glyphs[0].style.font, "F1");
  }
  // Rise lifts the origin; the CTM maps it to page space.
  PageGlyphs r = interpret("2 0 0 3 10 20 cm BT /F1 10 Tf 5 Ts 1 1 Td (a) Tj ET", {}, {}, w);
  ASSERT_EQ(r.glyphs.size(), 1u);
  EXPECT_DOUBLE_EQ(r.glyphs[0].x, 12);
  EXPECT_DOUBLE_EQ(r.glyphs[0].y, 20 + 3 * 6);
  EXPECT_DOUBLE_EQ(r.glyphs[0].style.size, 30);
  EXPECT_DOUBLE_EQ(r.glyphs[0].width, 10);
}

TEST(Content, TextBeforeAnyFont) {
  TestWidths w(0.5);
  PageGlyphs g = interpret("BT 2 Tc 3 Tw 50 Tz (a b) Tj ET", {}, {}, w);
  ASSERT_EQ(g.glyphs.size(), 3u);
  EXPECT_EQ(g.glyphs[0].style.font, "");
  EXPECT_EQ(g.glyphs[0].style.size, 0);
  EXPECT_EQ(g.glyphs[0].width, 0);
  EXPECT_DOUBLE_EQ(g.glyphs[1].x, 1);
  EXPECT_DOUBLE_EQ(g.glyphs[2].x, 1 + 2.5);
}

TEST(Content, NegativeWidthsMoveBackwards) {
  TestWidths w(0.5);
  w.set("F1", 'a', -0.25);
  PageGlyphs g = interpret("BT /F1 10 Tf (ab) Tj ET", {}, {}, w);
  ASSERT_EQ(g.glyphs.size(), 2u);
  EXPECT_EQ(g.glyphs[0].width, 0);
  EXPECT_DOUBLE_EQ(g.glyphs[1].x, -2.5);
}

TEST(Content, PositioningOperators) {
  struct Case {
    std::string ops;
    double x, y;
  };
  const Case cases[] = {
      {"10 20 Td", 10, 20},
      {"10 20 Td 5 Td", 10, 20},            // one number: no effect
      {"10 20 Td 1 2 3 Td", 10, 20},        // three numbers: no effect
      {"10 20 Td 5 -7 TD T*", 15, 6},       // TD sets leading 7
      {"14 TL 10 20 Td T*", 10, 6},
      {"1 0 0 1 50 60 Tm 1 2 3 4 5 Tm", 50, 60},
      {"2 0 0 2 50 60 Tm 1 1 Td", 52, 62},  // Td moves in the line matrix's space
      {"1 2 3 4 5 cm 10 20 Td", 10, 20},    // five numbers: no effect
      {"14 TL (x) '", 5, -14},              // ' moves first; its glyph lands there
      {"14 TL '", 0, -14},                  // and moves without a string
      {"14 TL 1 2 \"", 0, -14},
      {"14 TL /x 1 \"", 0, -14},
  };
  for (const auto& c : cases) {
    PageGlyphs g = interpret("BT /F1 10 Tf " + c.ops + " (z) Tj ET");
    ASSERT_FALSE(g.glyphs.empty()) << c.ops;
    EXPECT_DOUBLE_EQ(g.glyphs.back().x, c.x) << c.ops;
    EXPECT_DOUBLE_EQ(g.glyphs.back().y, c.y) << c.ops;
  }
}

TEST(Content, DoubleQuoteSetsSpacingAndShows) {
  TestWidths w(0.5);
  PageGlyphs g = interpret("BT /F1 10 Tf 12 TL 3 1 ( a) \" ET", {}, {}, w);
  ASSERT_EQ(g.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(g.glyphs[0].y, -12);
  EXPECT_DOUBLE_EQ(g.glyphs[1].x, 5 + 1 + 3);
  // Without exactly two numbers the spacing is unchanged, but the string is still shown.
  PageGlyphs h = interpret("BT /F1 10 Tf 3 ( a) \" ET", {}, {}, w);
  ASSERT_EQ(h.glyphs.size(), 0u);  // the third operand is missing
  PageGlyphs k = interpret("BT /F1 10 Tf /n 1 ( a) \" ET", {}, {}, w);
  ASSERT_EQ(k.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(k.glyphs[1].x, 5);
}

TEST(Content, TextMatrixPersistsAcrossTextObjects) {
  PageGlyphs g = interpret("BT 1 0 0 1 30 40 Tm ET (a) Tj BT (b) Tj ET");
  ASSERT_EQ(g.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(g.glyphs[0].x, 30);
  EXPECT_DOUBLE_EQ(g.glyphs[1].x, 0);
}

// ---------------------------------------------------------------------------------------
// Colour and graphics state

TEST(Content, Colours) {
  struct Case {
    std::string ops;
    Color fill;
  };
  const Case cases[] = {
      {"0.5 g", Gray{0.5f}},
      {"0.5 0.25 g", UnknownColor{}},
      {"1 0 0 rg", Rgb{1, 0, 0}},
      {"1 0 0 0 rg", UnknownColor{}},
      {"0 0 0 1 k", Cmyk{0, 0, 0, 1}},
      {"/DeviceRGB cs 1 0 0 sc", Rgb{1, 0, 0}},
      {"/CS0 cs 0.5 sc", UnknownColor{}},
      {"/Lab cs 50 20 30 sc", Rgb{50, 20, 30}},
      {"/DeviceCMYK cs 0.1 0.2 0.3 0.4 scn", Cmyk{0.1f, 0.2f, 0.3f, 0.4f}},
      {"/CalGray cs 0.3 scn", Gray{0.3f}},
      {"/G cs 0.3 0.3 scn", UnknownColor{}},
      {"/Pattern cs /P0 scn", UnknownColor{}},
      {"0.2 g /DeviceRGB cs", Gray{0.2f}},  // cs leaves the colour alone
      {"1 0 0 RG 0.5 G", Gray{0}},          // stroke side only
      {"1 0 0 rg 0.7 sc", UnknownColor{}},  // rg set the fill space to RGB
      {"0.7 0.6 0.5 sc", UnknownColor{}},   // initial space is grey
  };
  for (const auto& c : cases) {
    PageGlyphs g = interpret(c.ops + " BT (a) Tj ET");
    ASSERT_EQ(g.glyphs.size(), 1u) << c.ops;
    EXPECT_EQ(g.glyphs[0].style.color, c.fill) << c.ops;
  }
  // Stroking render modes take the stroke colour.
  PageGlyphs s = interpret("1 0 0 RG 0 1 0 rg BT 1 Tr (a) Tj 5 Tr (b) Tj 2 Tr (c) Tj ET");
  ASSERT_EQ(s.glyphs.size(), 3u);
  EXPECT_EQ(s.glyphs[0].style.color, Color(Rgb{1, 0, 0}));
  EXPECT_EQ(s.glyphs[1].style.color, Color(Rgb{1, 0, 0}));
  EXPECT_EQ(s.glyphs[2].style.color, Color(Rgb{0, 1, 0}));
  // Stroke side via CS/SCN.
  PageGlyphs t = interpret("/DeviceCMYK CS 0 0 0 1 SCN BT 1 Tr (a) Tj ET");
  EXPECT_EQ(t.glyphs[0].style.color, Color(Cmyk{0, 0, 0, 1}));
}

TEST(Graphics, ColorSpaceKindFromName) {
  const std::pair<const char*, ColorSpaceKind> cases[] = {
      {"DeviceGray", ColorSpaceKind::Gray}, {"CalGray", ColorSpaceKind::Gray},
      {"G", ColorSpaceKind::Gray},          {"DeviceRGB", ColorSpaceKind::Rgb},
      {"CalRGB", ColorSpaceKind::Rgb},      {"RGB", ColorSpaceKind::Rgb},
      {"Lab", ColorSpaceKind::Rgb},         {"DeviceCMYK", ColorSpaceKind::Cmyk},
      {"CMYK", ColorSpaceKind::Cmyk},       {"ICCBased", ColorSpaceKind::Other},
      {"devicergb", ColorSpaceKind::Other}, {"", ColorSpaceKind::Other},
  };
  for (const auto& [name, kind] : cases) EXPECT_EQ(ColorSpaceKind::from_name(name), kind) << name;
}

TEST(Graphics, SixtyFiveNestedSaves) {
  std::string ops;
  for (int i = 0; i < 64; ++i) ops += "q ";
  // The 65th q is not saved, so its Q restores the state saved by the 64th (identity CTM).
  ops += "1 0 0 1 10 0 cm q 1 0 0 1 5 0 cm Q BT (a) Tj ET ";
  for (int i = 0; i < 65; ++i) ops += "Q ";
  ops += "BT (b) Tj ET";
  TestWidths w;
  std::vector<FontInfo> fonts;
  std::vector<RawForm> forms;
  Content c;
  ASSERT_TRUE(tokenize_content(ops, c));
  Interpreter in(fonts, forms, w);
  in.run_all(c);
  const PageGlyphs& g = in.output();
  ASSERT_EQ(g.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(g.glyphs[0].x, 0);
  EXPECT_DOUBLE_EQ(g.glyphs[1].x, 0);
  EXPECT_EQ(in.graphics().depth(), 0u);

  // A q within the limit restores fully.
  PageGlyphs h = interpret("q 1 0 0 1 10 0 cm 2 g Q BT (a) Tj ET");
  EXPECT_DOUBLE_EQ(h.glyphs[0].x, 0);
  EXPECT_EQ(h.glyphs[0].style.color, Color(Gray{0}));
}

TEST(Graphics, StackDirectly) {
  GraphicsStack s;
  for (int i = 0; i < 64; ++i) EXPECT_TRUE(s.save());
  EXPECT_FALSE(s.save());
  EXPECT_EQ(s.depth(), 64u);
  s.set_floor(63);
  EXPECT_TRUE(s.restore());
  EXPECT_FALSE(s.restore());
  s.set_floor(0);
  s.truncate(10);
  EXPECT_EQ(s.depth(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(s.restore());
  EXPECT_FALSE(s.restore());
  const Matrix m = multiply({2, 0, 0, 2, 0, 0}, {1, 0, 0, 1, 10, 20});
  EXPECT_EQ(m, (Matrix{2, 0, 0, 2, 10, 20}));
}

TEST(Content, HostileNumbersDoNotBreakAnything) {
  std::string huge(60, '9');
  PageGlyphs g = interpret(huge + ".0 0 0 " + huge + ".0 0 0 cm BT /F1 " + huge +
                           " Tf (ab) Tj " + huge + " " + huge + " Td (c) Tj ET " + "0 0 m " +
                           huge + ".0 0 l S 0 0 " + huge + " " + huge + " re f");
  EXPECT_EQ(g.glyphs.size(), 3u);
  for (const auto& gl : g.glyphs) EXPECT_LT(gl.rotation, 4);
}

// ---------------------------------------------------------------------------------------
// Paths and ruled lines

TEST(Content, RuledLines) {
  struct Case {
    std::string ops;
    std::vector<RuledLine> lines;
  };
  const Case cases[] = {
      {"0 0 100 0.5 re f", {{0, 0.25, 100, 0.25}}},
      {"10 10 0.5 100 re F", {{10.25, 10, 10.25, 110}}},
      {"100 10 -100 -0.5 re f", {{0, 9.75, 100, 9.75}}},
      {"0 0 3 3 re f", {}},
      {"0 0 2 3.5 re f", {}},
      {"0 0 100 50 re S", {}},
      {"0 0 m 100 0.4 l S", {{0, 0, 100, 0.4f}}},  // operands are single precision
      {"0 0 m 100 0.6 l S", {}},
      {"0 0 m 3.9 0 l S", {}},
      {"0 100 m 0 0 l S", {{0, 100, 0, 0}}},  // drawn direction kept
      {"0 0 m 100 0 l 100 50 l 0 50 l h S",
       {{0, 0, 100, 0}, {100, 0, 100, 50}, {100, 50, 0, 50}, {0, 50, 0, 0}}},
      {"0 0 m 100 0 l 100 50 l 0 50 l s",
       {{0, 0, 100, 0}, {100, 0, 100, 50}, {100, 50, 0, 50}, {0, 50, 0, 0}}},
      {"0 0 m 100 0 l 100 50 l b*", {{0, 0, 100, 0}, {100, 0, 100, 50}}},
      {"0 0 100 50 re W n S", {}},
      {"0 0 m 50 0 l 60 10 70 20 80 0 c 130 0 l S", {{0, 0, 50, 0}, {80, 0, 130, 0}}},
      {"0 0 m 50 0 l 80 0 v 130 0 l 140 0 y S", {{0, 0, 50, 0}, {80, 0, 130, 0}}},
      {"0 0 m 100 0 l S S", {{0, 0, 100, 0}}},
      {"2 0 0 2 10 10 cm 0 0 100 1 re f", {{10, 11, 210, 11}}},
      {"0 0 100 50 re 200 0 l S", {{0, 0, 200, 0}}},  // re starts a subpath at its corner
      {"50 0 l 100 0 l S", {{50, 0, 100, 0}}},          // the first l only sets a point
      {"h 0 0 m 100 0 l n S", {}},
      {"0 0 m 10 0 l 0 0 l f 0 0 m 20 0 l B", {{0, 0, 10, 0}, {10, 0, 0, 0}, {0, 0, 20, 0}}},
      {"q 0 0 m Q 100 0 l S", {{0, 0, 100, 0}}},  // path state ignores q/Q
  };
  for (const auto& c : cases) {
    PageGlyphs g = interpret(c.ops);
    ASSERT_EQ(g.ruled_lines.size(), c.lines.size()) << c.ops;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      EXPECT_DOUBLE_EQ(g.ruled_lines[i].x0, c.lines[i].x0) << c.ops;
      EXPECT_DOUBLE_EQ(g.ruled_lines[i].y0, c.lines[i].y0) << c.ops;
      EXPECT_DOUBLE_EQ(g.ruled_lines[i].x1, c.lines[i].x1) << c.ops;
      EXPECT_DOUBLE_EQ(g.ruled_lines[i].y1, c.lines[i].y1) << c.ops;
    }
  }
}

TEST(Content, PendingSegmentsAreCapped) {
  std::string ops = "0 0 m ";
  for (int i = 0; i < 4200; ++i) ops += "10 0 l 0 0 l ";
  ops += "S 0 0 m 10 0 l S";
  PageGlyphs g = interpret(ops);
  EXPECT_EQ(g.ruled_lines.size(), 8192u + 1u);
}

TEST(Content, RulesInsideScaledFormsAreInPageSpace) {
  std::vector<RawForm> forms = {{"Fm0", bytes("0 0 100 1 re f"), {2, 0, 0, 2, 10, 10}}};
  PageGlyphs g = interpret("1 0 0 1 5 0 cm /Fm0 Do", {}, forms);
  ASSERT_EQ(g.ruled_lines.size(), 1u);
  EXPECT_DOUBLE_EQ(g.ruled_lines[0].x0, 15);
  EXPECT_DOUBLE_EQ(g.ruled_lines[0].y0, 11);
  EXPECT_DOUBLE_EQ(g.ruled_lines[0].x1, 215);
}

// ---------------------------------------------------------------------------------------
// Forms, placements and marked content

TEST(Content, FormsAreExecutedInPlace) {
  TestWidths w(0.5);
  std::vector<RawForm> forms = {
      {"Fm0", bytes("BT /F1 10 Tf 1 0 0 1 5 5 Tm (ab) Tj ET"), {2, 0, 0, 2, 100, 0}}};
  PageGlyphs g = interpret("1 0 0 1 0 50 cm /Fm0 Do", {}, forms, w);
  ASSERT_EQ(g.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(g.glyphs[0].x, 110);
  EXPECT_DOUBLE_EQ(g.glyphs[0].y, 60);
  EXPECT_DOUBLE_EQ(g.glyphs[0].style.size, 20);
  EXPECT_DOUBLE_EQ(g.glyphs[1].x, 120);
  EXPECT_EQ(g.glyphs[0].style.font, "Fm0/F1");
  ASSERT_EQ(g.xobjects.size(), 1u);
  EXPECT_EQ(g.xobjects[0].name, "Fm0");
  EXPECT_EQ(g.xobjects[0].ctm, (std::array<double, 6>{1, 0, 0, 1, 0, 50}));
  EXPECT_EQ(g.xobjects[0].glyph_index, 0u);
}

TEST(Content, FormFontsAreQualified) {
  std::vector<FontInfo> fonts = {font("F1"), font("Fm0/F1", "Type0")};
  std::vector<RawForm> forms = {{"Fm0", bytes("BT /F1 10 Tf <0102> Tj ET"), {1, 0, 0, 1, 0, 0}}};
  PageGlyphs g = interpret("BT /F1 10 Tf <0102> Tj ET /Fm0 Do BT <03> Tj ET", fonts, forms);
  ASSERT_EQ(g.glyphs.size(), 4u);
  EXPECT_EQ(g.glyphs[0].style.font, "F1");
  EXPECT_EQ(g.glyphs[2].style.font, "Fm0/F1");
  EXPECT_EQ(g.glyphs[2].code, 0x0102u);
  // The form's Tf is undone with its graphics state.
  EXPECT_EQ(g.glyphs[3].style.font, "F1");
  EXPECT_EQ(g.glyphs[3].code, 3u);
}

TEST(Content, NestedFormsReuseAndPlacements) {
  std::vector<RawForm> forms = {
      {"Fm0", bytes("(a) Tj /Fm1 Do /Im1 Do /Fm0 Do"), {1, 0, 0, 1, 0, 0}},
      {"Fm0/Fm1", bytes("(b) Tj /Im0 Do"), {1, 0, 0, 1, 0, 0}},
      {"Fm1", bytes("(z) Tj"), {1, 0, 0, 1, 0, 0}},
  };
  PageGlyphs g = interpret("/Fm0 Do /Im0 Do /Fm0 Do", {}, forms);
  std::string codes;
  for (const auto& gl : g.glyphs) codes.push_back(static_cast<char>(gl.code));
  EXPECT_EQ(codes, "abab");  // drawn twice; the inner /Fm0 Do is Fm0/Fm0, never collected
  std::vector<std::string> names;
  for (const auto& x : g.xobjects) names.push_back(x.name + "@" + std::to_string(x.glyph_index));
  const std::vector<std::string> want = {"Fm0@0",         "Fm0/Fm1@1", "Fm0/Fm1/Im0@2",
                                         "Fm0/Im1@2",     "Fm0/Fm0@2", "Im0@2",
                                         "Fm0@2",         "Fm0/Fm1@3", "Fm0/Fm1/Im0@4",
                                         "Fm0/Im1@4",     "Fm0/Fm0@4"};
  EXPECT_EQ(names, want);
}

TEST(Content, FormNestingStopsAtEightLevels) {
  std::vector<RawForm> forms;
  std::string name;
  for (int i = 0; i < 10; ++i) {
    std::string part = "L" + std::to_string(i);
    name = name.empty() ? part : name + "/" + part;
    forms.push_back({name, bytes("(x) Tj /L" + std::to_string(i + 1) + " Do"), {1, 0, 0, 1, 0, 0}});
  }
  PageGlyphs g = interpret("/L0 Do", {}, forms);
  EXPECT_EQ(g.glyphs.size(), 8u);
}

TEST(Content, FormGraphicsStateStaysInside) {
  TestWidths w(0.5);
  std::vector<RawForm> forms = {
      {"Up", bytes("q 1 0 0 1 100 0 cm q 0.5 g"), {1, 0, 0, 1, 0, 0}},
      {"Down", bytes("Q Q Q 1 0 0 1 7 0 cm"), {1, 0, 0, 1, 0, 0}},
      {"Bad", bytes("1 0 0 1 300 0 cm (never"), {1, 0, 0, 1, 0, 0}},
  };
  PageGlyphs g = interpret(
      "/Up Do BT (a) Tj ET q 1 0 0 1 0 20 cm /Down Do BT (b) Tj ET Q BT (c) Tj ET "
      "BT 1 0 0 1 40 0 Tm /Bad Do (d) Tj ET",
      {}, forms, w);
  ASSERT_EQ(g.glyphs.size(), 4u);
  EXPECT_DOUBLE_EQ(g.glyphs[0].x, 0);  // the form's unbalanced q does not leak
  EXPECT_EQ(g.glyphs[0].style.color, Color(Gray{0}));
  EXPECT_DOUBLE_EQ(g.glyphs[1].y, 20);  // nor do its extra Q pop the page's state
  EXPECT_DOUBLE_EQ(g.glyphs[2].y, 0);
  EXPECT_DOUBLE_EQ(g.glyphs[3].x, 40);  // an untokenisable form draws nothing...
  ASSERT_EQ(g.xobjects.size(), 3u);     // ...but its placement is recorded
  EXPECT_EQ(g.xobjects[2].name, "Bad");
}

TEST(Content, FormRestoresTextMatrices) {
  std::vector<RawForm> forms = {{"Fm0", bytes("BT 1 0 0 1 500 500 Tm (x) Tj"), {1, 0, 0, 1, 0, 0}}};
  PageGlyphs g = interpret("BT 1 0 0 1 30 0 Tm /Fm0 Do (a) Tj ET", {}, forms);
  ASSERT_EQ(g.glyphs.size(), 2u);
  EXPECT_DOUBLE_EQ(g.glyphs[0].x, 500);
  EXPECT_DOUBLE_EQ(g.glyphs[1].x, 30);
}

TEST(Content, FormOperationBudgetEndsRunawayNesting) {
  // Eight levels each painting the next ten times would be 10^8 executions.
  std::vector<RawForm> forms;
  std::string name;
  for (int i = 0; i < 8; ++i) {
    std::string part = "L" + std::to_string(i);
    name = name.empty() ? part : name + "/" + part;
    std::string body;
    for (int k = 0; k < 10; ++k) body += "(x) Tj /L" + std::to_string(i + 1) + " Do ";
    forms.push_back({name, bytes(body), {1, 0, 0, 1, 0, 0}});
  }
  TestWidths w;
  std::vector<FontInfo> fonts;
  Content c;
  ASSERT_TRUE(tokenize_content("/L0 Do (y) Tj", c));
  Interpreter in(fonts, forms, w, 5000);
  in.run_all(c);
  EXPECT_EQ(in.output().glyphs.size(), 2500u + 1u);  // half the budget is Tj
  EXPECT_EQ(in.output().glyphs.back().style.font, "");
  EXPECT_EQ(in.graphics().depth(), 0u);
}

TEST(Content, Qualify) {
  TestWidths w;
  std::vector<FontInfo> fonts;
  std::vector<RawForm> forms = {
      {"Fm0", bytes("/Fm1 Do"), {1, 0, 0, 1, 0, 0}},
      {"Fm0/Fm1", bytes("/F1 1 Tf (a) Tj"), {1, 0, 0, 1, 0, 0}},
  };
  Interpreter in(fonts, forms, w);
  EXPECT_EQ(in.qualify("F1"), "F1");
  in.enter_form("Fm0");
  EXPECT_EQ(in.output().glyphs.at(0).style.font, "Fm0/Fm1/F1");
  in.enter_form("Nope");
  EXPECT_EQ(in.output().glyphs.size(), 1u);
}

TEST(Content, MarkedContentSpans) {
  struct Case {
    std::string ops;
    std::vector<std::array<std::size_t, 3>> mcid;   // start, end, mcid
    std::vector<std::pair<std::string, std::array<std::size_t, 2>>> actual;
  };
  const Case cases[] = {
      {"(x) Tj /P <</MCID 3>> BDC (ab) Tj EMC", {{1, 3, 3}}, {}},
      {"/P <</MCID 1>> BDC (a) Tj /P <</MCID 2>> BDC (b) Tj EMC EMC", {{1, 2, 2}, {0, 2, 1}}, {}},
      {"/P /MC0 BDC (a) Tj EMC", {}, {}},
      {"/P BMC EMC (a) Tj", {}, {}},
      {"/P <</MCID 4>> BDC EMC (a) Tj", {}, {}},
      {"/P <</MCID -1>> BDC (a) Tj EMC /P <</MCID 4294967296>> BDC (a) Tj EMC", {}, {}},
      {"/P <</MCID 4294967295>> BDC (a) Tj EMC", {{0, 1, 4294967295u}}, {}},
      {"/P <</MCID 2.0>> BDC (a) Tj EMC", {}, {}},
      {"/P <</MCID 5>> BMC (a) Tj EMC", {{0, 1, 5}}, {}},  // BMC with a dictionary still counts
      {"/Span <</ActualText <FEFF0041>>> BDC (xy) Tj EMC", {}, {{"A", {0, 2}}}},
      {"/Span <</ActualText (\xe9)>> BDC (x) Tj EMC", {}, {{"\xc3\xa9", {0, 1}}}},
      {"/Span <</ActualText (t) /MCID 7>> BDC (x) Tj EMC", {{0, 1, 7}}, {{"t", {0, 1}}}},
      {"/Span <</ActualText (t)>> BMC (x) Tj EMC", {}, {}},  // BMC has no ActualText
      {"/Span <</ActualText /t>> BDC (x) Tj EMC", {}, {}},
      {"EMC EMC (a) Tj /P <</MCID 1>> BDC (b) Tj EMC EMC", {{1, 2, 1}}, {}},
      {"/P <</MCID 1>> BDC (a) Tj", {}, {}},  // never closed: discarded
  };
  for (const auto& c : cases) {
    PageGlyphs g = interpret(c.ops);
    ASSERT_EQ(g.mcid_spans.size(), c.mcid.size()) << c.ops;
    for (std::size_t i = 0; i < c.mcid.size(); ++i) {
      EXPECT_EQ(g.mcid_spans[i].start, c.mcid[i][0]) << c.ops;
      EXPECT_EQ(g.mcid_spans[i].end, c.mcid[i][1]) << c.ops;
      EXPECT_EQ(g.mcid_spans[i].mcid, c.mcid[i][2]) << c.ops;
    }
    ASSERT_EQ(g.actual_texts.size(), c.actual.size()) << c.ops;
    for (std::size_t i = 0; i < c.actual.size(); ++i) {
      EXPECT_EQ(g.actual_texts[i].text, c.actual[i].first) << c.ops;
      EXPECT_EQ(g.actual_texts[i].start, c.actual[i].second[0]) << c.ops;
      EXPECT_EQ(g.actual_texts[i].end, c.actual[i].second[1]) << c.ops;
    }
  }
}

TEST(Content, MarkedStackIsBounded) {
  std::string ops;
  for (int i = 0; i < 65; ++i) ops += "/P <</MCID " + std::to_string(i) + ">> BDC ";
  ops += "(a) Tj EMC (b) Tj";
  for (int i = 0; i < 64; ++i) ops += " EMC";
  PageGlyphs g = interpret(ops);
  // The 65th section is not recorded: the first EMC closes section 63.
  ASSERT_EQ(g.mcid_spans.size(), 64u);
  EXPECT_EQ(g.mcid_spans[0].mcid, 63u);
  EXPECT_EQ(g.mcid_spans[0].end, 1u);
  EXPECT_EQ(g.mcid_spans[1].mcid, 62u);
  EXPECT_EQ(g.mcid_spans[1].end, 2u);
}

TEST(Content, SectionsMayCrossFormBoundaries) {
  std::vector<RawForm> forms = {{"Fm0", bytes("/P <</MCID 9>> BDC (a) Tj"), {1, 0, 0, 1, 0, 0}}};
  PageGlyphs g = interpret("/Fm0 Do (b) Tj EMC", {}, forms);
  ASSERT_EQ(g.mcid_spans.size(), 1u);
  EXPECT_EQ(g.mcid_spans[0].start, 0u);
  EXPECT_EQ(g.mcid_spans[0].end, 2u);
  EXPECT_EQ(g.mcid_spans[0].mcid, 9u);
}

TEST(Content, PdfTextString) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xFE\xFF\x00\x41"s, "A"},
      {"\xE9", "\xC3\xA9"},
      {"\xFE\xFF\xD8\x3D\xDE\x00"s, "\xF0\x9F\x98\x80"},
      {std::string("\xFE\xFF\xD8\x00\x00\x41", 6), "\xEF\xBF\xBD" "A"},
      {std::string("\xFE\xFF\xDC\x00", 4), "\xEF\xBF\xBD"},
      {std::string("\xFE\xFF\x06\x27\x06", 5), "\xD8\xA7"},
      {"\xFE", "\xC3\xBE"},
      {"", ""},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(pdf_text_string(in), out);
}

TEST(Content, ObjectName) {
  Content c;
  ASSERT_TRUE(tokenize_content("/A#20B (s) /\xff Tf", c));
  auto ops = c.operation(0).operands;
  EXPECT_EQ(object_name(ops[0]), "A B");
  EXPECT_EQ(object_name(ops[1]), std::nullopt);
  EXPECT_EQ(object_name(ops[2]), "\xEF\xBF\xBD");
}
