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
