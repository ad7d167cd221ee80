#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "content.h"
#include "parser.h"
#include "pdf_builder.h"

using namespace velko;
using velko::test::PageSpec;
using velko::test::PdfBuilder;

namespace {

std::string ref(int n) { return std::to_string(n) + " 0 R"; }

Pdf open_pdf(PdfBuilder& b, const std::string& entries, const std::string& content = "",
             const std::string& pages_entries = "") {
  std::string path = velko::test::simple_pdf(b, {PageSpec{content, entries}}, pages_entries);
  auto pdf = Pdf::open(path);
  EXPECT_TRUE(pdf) << (pdf ? "" : pdf.error().message());
  return std::move(pdf).value();
}

std::vector<std::string> form_names(const Pdf& pdf) {
  std::vector<std::string> names;
  auto forms = pdf.page_forms(1);
  EXPECT_TRUE(forms);
  if (forms) {
    for (const auto& f : forms.value()) names.push_back(f.name);
  }
  return names;
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
std::string text(const std::optional<Bytes>& b) { return b ? text(*b) : "<absent>"; }

std::string form(const std::string& extra) {
  return "/Type /XObject /Subtype /Form /BBox [0 0 10 10] " + extra;
}

class ConstWidths : public GlyphWidths {
 public:
  double width(std::string_view, std::uint32_t) const override { return 0.5; }
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Form XObjects

TEST(Forms, NestedFormsAreQualifiedAndImagesSkipped) {
  PdfBuilder b;
  int im0 = b.add_stream("/Type /XObject /Subtype /Image /Width 1 /Height 1", "x");
  int im1 = b.add_stream("/Type /XObject /Subtype /Image /Width 1 /Height 1", "y");
  int fm1 = b.add_stream(form(""), "(inner) Tj");
  int fm0 = b.add_stream(form("/Resources << /XObject << /Fm1 " + ref(fm1) + " /Im0 " + ref(im0) +
                              " >> >>"),
                         "/Fm1 Do");
  Pdf pdf = open_pdf(b, "/Resources << /XObject << /Fm0 " + ref(fm0) + " /Im1 " + ref(im1) + " >> >>");
  EXPECT_EQ(form_names(pdf), (std::vector<std::string>{"Fm0", "Fm0/Fm1"}));
  auto forms = pdf.page_forms(1).value();
  EXPECT_EQ(text(forms[0].content), "/Fm1 Do");
  EXPECT_EQ(text(forms[1].content), "(inner) Tj");
}

TEST(Forms, FormWithoutResourcesUsesTheOuterOnes) {
  PdfBuilder b;
  int font = b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  int a = b.add_stream(form(""), "/F1 9 Tf (a) Tj");
  int c = b.add_stream(form(""), "(c) Tj");
  Pdf pdf = open_pdf(b, "/Resources << /Font << /F1 " + ref(font) + " >> /XObject << /Fm0 " +
                            ref(a) + " /Fm1 " + ref(c) + " >> >>");
  // Fm1 is first reached through Fm0 (whose resources are the page's), so it is collected
  // there and not again at the top.
  EXPECT_EQ(form_names(pdf), (std::vector<std::string>{"Fm0", "Fm0/Fm1"}));
  auto fonts = pdf.page_raw_fonts(1);
  ASSERT_TRUE(fonts);
  std::vector<std::string> names;
  for (const auto& f : fonts.value()) names.push_back(f.info.name);
  EXPECT_EQ(names, (std::vector<std::string>{"F1", "Fm0/F1", "Fm0/Fm1/F1"}));
}

TEST(Forms, EachFormObjectIsCollectedOnce) {
  PdfBuilder b;
  int shared = b.add_stream(form("/Resources << >>"), "(x) Tj");
  int self = b.reserve();
  b.set_stream(self, form("/Resources << /XObject << /Fm0 " + ref(self) + " >> >>"), "(s) Tj /Fm0 Do");
  Pdf pdf = open_pdf(b, "/Resources << /XObject << /A " + ref(shared) + " /B " + ref(shared) +
                            " /Fm0 " + ref(self) + " >> >>");
  EXPECT_EQ(form_names(pdf), (std::vector<std::string>{"A", "Fm0"}));

  // Through the interpreter: B draws nothing, and the self-drawing form runs once.
  auto forms = pdf.page_forms(1).value();
  ConstWidths w;
  auto count = [&](const std::string& content) {
    return interpret_with_forms(Bytes(content.begin(), content.end()), {}, forms, w).glyphs.size();
  };
  EXPECT_EQ(count("/A Do"), 1u);
  EXPECT_EQ(count("/B Do"), 0u);
  EXPECT_EQ(count("/Fm0 Do"), 1u);
}

TEST(Forms, NestingStopsAfterEightLevels) {
  PdfBuilder b;
  int next = b.add_stream(form(""), "(deepest)");
  for (int level = 0; level < 8; ++level) {
    next = b.add_stream(form("/Resources << /XObject << /X " + ref(next) + " >> >>"), "/X Do");
  }
  Pdf pdf = open_pdf(b, "/Resources << /XObject << /X " + ref(next) + " >> >>");
  auto names = form_names(pdf);
  ASSERT_EQ(names.size(), 8u);  // nine levels exist; depths 0 to 7 are collected
  EXPECT_EQ(names.back(), "X/X/X/X/X/X/X/X");
}

TEST(Forms, MatrixAndContent) {
  PdfBuilder b;
  int m = b.add("[2 0 0 2 10 10.1]");
  const std::string cases[] = {
      "/Matrix [2 0 0 2 10 10]", "/Matrix [1 0 0 1]", "/Matrix [1 0 0 1 0 /x]",
      "/Matrix " + ref(m),        "/Matrix 5",          "",
  };
  std::string xobjects;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    int f = b.add_stream(form(cases[i]), "q Q");
    xobjects += "/F" + std::to_string(i) + " " + ref(f) + " ";
  }
  int flate = b.add_stream(form(""), "(z) Tj", true);
  int broken = b.add_stream(form("/Filter /FlateDecode"), "not zlib");
  xobjects += "/G0 " + ref(flate) + " /G1 " + ref(broken);
  Pdf pdf = open_pdf(b, "/Resources << /XObject << " + xobjects + " >> >>");
  auto forms = pdf.page_forms(1).value();
  ASSERT_EQ(forms.size(), 8u);
  using M = std::array<double, 6>;
  const M id{1, 0, 0, 1, 0, 0};
  EXPECT_EQ(forms[0].matrix, (M{2, 0, 0, 2, 10, 10}));
  EXPECT_EQ(forms[1].matrix, id);
  EXPECT_EQ(forms[2].matrix, id);
  EXPECT_EQ(forms[3].matrix, (M{2, 0, 0, 2, 10, static_cast<double>(10.1f)}));
  EXPECT_EQ(forms[4].matrix, id);
  EXPECT_EQ(forms[5].matrix, id);
  EXPECT_EQ(text(forms[6].content), "(z) Tj");
  EXPECT_EQ(text(forms[7].content), "not zlib");
}

TEST(Forms, MissingPageAndOddResources) {
  PdfBuilder b;
  Pdf pdf = open_pdf(b, "/Resources 5");
  EXPECT_TRUE(pdf.page_forms(1).value().empty());
  EXPECT_TRUE(pdf.page_raw_fonts(1).value().empty());
  for (std::uint32_t n : {0u, 2u}) {
    EXPECT_EQ(pdf.page_forms(n).error().kind, Error::Kind::PageMissing);
    EXPECT_EQ(pdf.collect_forms(n).error().kind, Error::Kind::PageMissing);
    EXPECT_EQ(pdf.page_raw_fonts(n).error().kind, Error::Kind::PageMissing);
  }
}

// ---------------------------------------------------------------------------------------
// Font resources

class Fonts : public ::testing::Test {
 protected:
  // Builds one page whose /Font dictionary holds the given fonts and reads them back.
  void load(const std::map<std::string, std::string>& fonts, PdfBuilder& b) {
    std::string dict;
    for (const auto& [name, body] : fonts) dict += "/" + name + " " + ref(b.add(body)) + " ";
    Pdf pdf = open_pdf(b, "/Resources << /Font << " + dict + " >> >>");
    auto raw = pdf.page_raw_fonts(1);
    ASSERT_TRUE(raw);
    for (auto& f : raw.value()) by_name_[f.info.name] = f;
    order_.clear();
    for (auto& f : raw.value()) order_.push_back(f.info.name);
  }
  const RawFont& get(const std::string& name) { return by_name_.at(name); }
  std::map<std::string, RawFont> by_name_;
  std::vector<std::string> order_;
};

TEST_F(Fonts, SimpleFontFields) {
  PdfBuilder b;
  int w = b.add("[250 " + ref(b.add("300")) + " 595.276]");
  int mw = b.add("275");
  int desc = b.add("<< /Type /FontDescriptor /MissingWidth " + ref(mw) + " /FontFile2 " +
                   ref(b.add_stream("", "TTF")) + " /FontFile3 " +
                   ref(b.add_stream("/Subtype /Type1C", "CFF", true)) + " >>");
  int tu = b.add_stream("", "begincmap endcmap", true);
  load({
           {"A", "<< /Subtype /TrueType /BaseFont /Arial /FirstChar 32 /Widths [500 /x 600] "
                 "/Encoding /WinAnsiEncoding >>"},
           {"B", "<< /Subtype /Type1 /FirstChar -5 /Encoding << /Differences [0 /a 300 /b /c 65 "
                 "/A] >> >>"},
           {"C", "<< /Subtype /Type1 /FirstChar 32.0 /Encoding << /BaseEncoding "
                 "/MacRomanEncoding /Differences [32 /space 40.7 /paren -3 /zero] >> >>"},
           {"D", "<< /Subtype /TrueType /Widths " + ref(w) + " /FontDescriptor " + ref(desc) +
                     " /ToUnicode " + ref(tu) + " /Encoding 7 >>"},
           {"E", "<< /Subtype " + ref(b.add("/Type1")) + " /BaseFont " + ref(b.add("/Times")) +
                     " /ToUnicode /Identity-H /Encoding " + ref(b.add("/StandardEncoding")) +
                     " >>"},
           {"F", "<< >>"},
       },
       b);
  const RawFont& a = get("A");
  EXPECT_EQ(a.info.subtype, "TrueType");
  EXPECT_EQ(a.info.base_font, "Arial");
  EXPECT_EQ(a.info.encoding, "WinAnsiEncoding");
  EXPECT_EQ(a.info.decoding, FontDecoding::HasEncoding);
  EXPECT_EQ(a.first_char, 32u);
  EXPECT_EQ(a.widths, (std::vector<double>{500, 600}));
  EXPECT_EQ(a.base_encoding, "WinAnsiEncoding");
  EXPECT_TRUE(a.differences.empty());

  const RawFont& bf = get("B");
  EXPECT_EQ(bf.first_char, 0u);
  EXPECT_EQ(bf.base_encoding, std::nullopt);
  EXPECT_EQ(bf.info.encoding, std::nullopt);
  EXPECT_EQ(bf.info.decoding, FontDecoding::HasEncoding);
  using D = std::vector<std::pair<std::uint8_t, std::string>>;
  EXPECT_EQ(bf.differences, (D{{0, "a"}, {65, "A"}}));

  const RawFont& c = get("C");
  EXPECT_EQ(c.first_char, 0u);
  EXPECT_EQ(c.base_encoding, "MacRomanEncoding");
  EXPECT_EQ(c.differences, (D{{32, "space"}, {40, "paren"}, {0, "zero"}}));

  const RawFont& d = get("D");
  EXPECT_EQ(d.widths, (std::vector<double>{250, 300, static_cast<double>(595.276f)}));
  EXPECT_EQ(d.missing_width, 275);
  EXPECT_EQ(text(d.font_file3), "CFF");
  // A simple font's FontFile2 is no source of text; it is kept apart, for its outlines.
  EXPECT_EQ(d.font_file2, std::nullopt);
  EXPECT_EQ(text(d.truetype_program), "TTF");
  EXPECT_EQ(get("A").truetype_program, std::nullopt);
  EXPECT_EQ(text(d.to_unicode), "begincmap endcmap");
  EXPECT_EQ(d.info.decoding, FontDecoding::HasToUnicode);
  EXPECT_EQ(d.base_encoding, std::nullopt);

  const RawFont& e = get("E");
  EXPECT_EQ(e.info.subtype, "");         // only a name given directly counts
  EXPECT_EQ(e.info.base_font, std::nullopt);
  EXPECT_EQ(e.info.encoding, std::nullopt);
  EXPECT_EQ(e.base_encoding, "StandardEncoding");  // the entry itself follows one reference
  EXPECT_EQ(e.to_unicode, std::nullopt);
  EXPECT_EQ(e.info.decoding, FontDecoding::HasToUnicode);

  const RawFont& f = get("F");
  EXPECT_EQ(f.info.decoding, FontDecoding::Neither);
  EXPECT_EQ(f.missing_width, 0);
  EXPECT_EQ(f.default_width, 1000);
  EXPECT_TRUE(f.widths.empty());
}

TEST_F(Fonts, CompositeFontFields) {
  PdfBuilder b;
  int ff2 = b.add_stream("", "TRUETYPE", true);
  int desc = b.add("<< /Type /FontDescriptor /FontFile2 " + ref(ff2) + " >>");
  auto descendant = [&](const std::string& extra) {
    return b.add("<< /Type /Font /Subtype /CIDFontType2 /FontDescriptor " + ref(desc) + " " +
                 extra + " >>");
  };
  int map = b.add_stream("", std::string("\x00\x01\x00\x02", 4));
  int dw = b.add("500");
  load({
           {"A", "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [" +
                     ref(descendant("/CIDToGIDMap /Identity /DW 600 /W [1 [500 /x 700] 10 12 "
                                    "300]")) +
                     "] /FirstChar 5 /Widths [1 2] >>"},
           {"B", "<< /Subtype /Type0 /Encoding /UniGB-UCS2-H /DescendantFonts [" +
                     ref(descendant("/CIDToGIDMap " + ref(map) + " /DW " + ref(dw) +
                                    " /W [/a 1 [500]]")) +
                     "] >>"},
           {"C", "<< /Subtype /Type0 /Encoding /Identity-V /DescendantFonts [" +
                     ref(descendant("/CIDToGIDMap " + ref(map) +
                                    " /W [4294967296 [1 2 3] 5 6.5 7.25 9 9]")) +
                     "] >>"},
           {"D", "<< /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [] >>"},
       },
       b);
  const RawFont& a = get("A");
  EXPECT_EQ(text(a.font_file2), "TRUETYPE");
  EXPECT_EQ(a.cid_to_gid_map, std::nullopt);
  EXPECT_EQ(a.default_width, 600);
  ASSERT_EQ(a.cid_widths.size(), 3u);
  EXPECT_EQ(a.cid_widths[0].first, 1u);
  EXPECT_EQ(a.cid_widths[0].width, 500);
  EXPECT_EQ(a.cid_widths[1].first, 3u);
  EXPECT_EQ(a.cid_widths[1].last, 3u);
  EXPECT_EQ(a.cid_widths[1].width, 700);
  EXPECT_EQ(a.cid_widths[2].first, 10u);
  EXPECT_EQ(a.cid_widths[2].last, 12u);
  EXPECT_EQ(a.cid_widths[2].width, 300);
  EXPECT_TRUE(a.widths.empty());  // no simple-font fields for a composite font
  EXPECT_EQ(a.first_char, 0u);

  const RawFont& bf = get("B");
  EXPECT_EQ(bf.font_file2, std::nullopt);
  EXPECT_EQ(bf.cid_to_gid_map, std::nullopt);
  EXPECT_EQ(bf.default_width, 500);
  EXPECT_TRUE(bf.cid_widths.empty());

  const RawFont& c = get("C");
  EXPECT_EQ(text(c.cid_to_gid_map), std::string("\x00\x01\x00\x02", 4));
  // The first code clamps to 4294967295 and codes stop there; 9 9 lacks a width.
  ASSERT_EQ(c.cid_widths.size(), 2u);
  EXPECT_EQ(c.cid_widths[0].first, 4294967295u);
  EXPECT_EQ(c.cid_widths[0].last, 4294967295u);
  EXPECT_EQ(c.cid_widths[0].width, 1);
  EXPECT_EQ(c.cid_widths[1].first, 5u);
  EXPECT_EQ(c.cid_widths[1].last, 6u);
  EXPECT_EQ(c.cid_widths[1].width, 7.25);

  const RawFont& d = get("D");
  EXPECT_EQ(d.font_file2, std::nullopt);
  EXPECT_EQ(d.default_width, 1000);
}

TEST_F(Fonts, PageFontsInByteOrderThenFormFonts) {
  PdfBuilder b;
  int f = b.add("<< /Subtype /Type1 >>");
  int inner = b.add_stream(form("/Resources << /Font << /F1 " + ref(f) + " >> >>"), "");
  int outer = b.add_stream(form("/Resources << /Font << /Z " + ref(f) + " /Bad 5 /A << /Subtype /Type0 >> >> "
                                "/XObject << /Fm1 " + ref(inner) + " >> >>"),
                           "");
  // The page inherits its resources from the /Pages node.
  std::string path = velko::test::simple_pdf(
      b, {PageSpec{"", ""}},
      "/Resources << /Font << /F2 " + ref(f) + " /F10 " + ref(f) + " /a " + ref(f) + " /B " +
          ref(f) + " /N 3 >> /XObject << /Fm0 " + ref(outer) + " >> >>");
  auto pdf = Pdf::open(path);
  ASSERT_TRUE(pdf);
  auto fonts = pdf.value().page_raw_fonts(1);
  ASSERT_TRUE(fonts);
  std::vector<std::string> names;
  for (const auto& r : fonts.value()) names.push_back(r.info.name);
  EXPECT_EQ(names, (std::vector<std::string>{"B", "F10", "F2", "a", "Fm0/A", "Fm0/Z",
                                             "Fm0/Fm1/F1"}));
  EXPECT_EQ(fonts.value()[4].info.subtype, "Type0");
}
