#include <gtest/gtest.h>

#include "document.h"
#include "pdf_builder.h"

using namespace velko;
using velko::test::PdfBuilder;
using velko::test::PageSpec;
using velko::test::simple_pdf;

TEST(Document, ZeroPages) {
  auto doc = Document::open(simple_pdf({}));
  ASSERT_TRUE(doc) << doc.error().message();
  EXPECT_TRUE(doc.value().pages.empty());
  EXPECT_EQ(doc.value().text(), "");
  EXPECT_EQ(doc.value().confidence(), 0.0);
  EXPECT_TRUE(doc.value().pages_needing_ocr().empty());
}

TEST(Document, PageGeometry) {
  auto doc = Document::open(simple_pdf({PageSpec{"", "/MediaBox [0 0 612 792] /Rotate 90"},
                                        PageSpec{"", "/MediaBox [10 20 110 220]"}}));
  ASSERT_TRUE(doc) << doc.error().message();
  const auto& pages = doc.value().pages;
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].number, 1u);
  EXPECT_EQ(pages[0].width, 612);
  EXPECT_EQ(pages[0].height, 792);
  EXPECT_EQ(pages[0].rotation, 1);
  EXPECT_EQ(pages[1].number, 2u);
  EXPECT_EQ(pages[1].width, 100);
  EXPECT_EQ(pages[1].height, 200);
  EXPECT_EQ(pages[1].rotation, 0);
  EXPECT_FALSE(pages[0].tagged);
}

TEST(Document, ExtractTextPassesOpenErrorsThrough) {
  auto r = extract_text("/tmp/velko-no-such-file.pdf");
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, Error::Kind::Io);
  EXPECT_EQ(r.error().message(),
            "could not read `/tmp/velko-no-such-file.pdf`: No such file or directory");
}

namespace {

// A simple font whose ToUnicode maps codes 1, 2, 3 to beh, teh, kaf, every glyph 500 units
// wide; returns the resource dictionary entry naming it F1.
std::string arabic_font(PdfBuilder& b) {
  int cmap = b.add_stream("", "begincmap 3 beginbfchar <01> <0628> <02> <062A> <03> <0643> "
                              "endbfchar endcmap");
  int font = b.add("<< /Type /Font /Subtype /TrueType /BaseFont /Test /FirstChar 1 "
                   "/Widths [500 500 500] /ToUnicode " + std::to_string(cmap) + " 0 R >>");
  return "/Resources << /Font << /F1 " + std::to_string(font) + " 0 R >> >>";
}

}  // namespace

TEST(Document, TextInReadingOrder) {
  PdfBuilder b;
  const std::string res = arabic_font(b);
  // Painted left to right as kaf teh beh, read right to left as beh teh kaf; a second
  // line below it.
  auto doc = Document::open(simple_pdf(
      b, {PageSpec{"BT /F1 12 Tf 100 700 Td <030201> Tj 0 -20 Td <01> Tj ET", res}}));
  ASSERT_TRUE(doc) << doc.error().message();
  EXPECT_EQ(doc.value().text(), "\u0628\u062A\u0643\n\u0628");
  const Page& page = doc.value().pages[0];
  ASSERT_EQ(page.lines.size(), 2u);
  EXPECT_TRUE(page.lines[0].rtl);
  EXPECT_EQ(page.assessment.verdict, Verdict::Ok);
  EXPECT_EQ(page.assessment.confidence, 1.0);
}

TEST(Document, PagesNeedingOcrLeaveTheText) {
  PdfBuilder b;
  const std::string res = arabic_font(b);
  const std::string text = "BT /F1 12 Tf 100 700 Td <030201> Tj ET";
  struct Case {
    const char* name;
    std::vector<PageSpec> pages;
    std::string text;
    std::vector<std::uint32_t> ocr;
    int confidence_pages;  // pages with confidence 1 among all
  };
  const std::vector<Case> cases = {
      {"scan first", {{"q 100 0 0 100 0 0 cm Q", ""}, {text, res}}, "\u0628\u062A\u0643", {1},
       1},
      {"scan last", {{text, res}, {"", ""}}, "\u0628\u062A\u0643", {2}, 1},
      {"two text pages", {{text, res}, {text, res}}, "\u0628\u062A\u0643\n\n\u0628\u062A\u0643",
       {}, 2},
      {"untokenisable content", {{"BT /F1 12 Tf (unterminated Tj ET", res}, {text, res}},
       "\u0628\u062A\u0643", {1}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PdfBuilder pb;
    const std::string r = arabic_font(pb);
    std::vector<PageSpec> pages = c.pages;
    for (auto& p : pages) {
      if (!p.entries.empty()) p.entries = r;
    }
    auto doc = Document::open(simple_pdf(pb, pages));
    ASSERT_TRUE(doc) << doc.error().message();
    EXPECT_EQ(doc.value().text(), c.text);
    EXPECT_EQ(doc.value().pages_needing_ocr(), c.ocr);
    EXPECT_DOUBLE_EQ(doc.value().confidence(),
                     static_cast<double>(c.confidence_pages) / static_cast<double>(pages.size()));
  }
}
