#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "parser.h"
#include "pdf_builder.h"

using namespace velko;
using velko::test::PdfBuilder;
using velko::test::PageSpec;
using velko::test::simple_pdf;
using velko::test::temp_file;

namespace {

Pdf open_ok(const std::string& path) {
  auto r = Pdf::open(path);
  if (!r) ADD_FAILURE() << r.error().message();
  return std::move(r).value();
}

}  // namespace

TEST(PageInfo, BoxAndRotationRules) {
  struct Case {
    const char* name;
    std::string page_entries;
    std::string pages_entries;
    Rect box;
    std::uint8_t rotation;
  };
  const Rect a4{0, 0, 595.276, 841.89};
  const Case cases[] = {
      {"no box anywhere", "", "", a4, 0},
      {"reversed corners", "/MediaBox [612 792 0 0]", "", {0, 0, 612, 792}, 0},
      {"three numbers", "/MediaBox [0 0 612]", "", a4, 0},
      {"a name among the numbers", "/MediaBox [0 0 /W 792]", "", a4, 0},
      {"five numbers", "/MediaBox [0 0 612 792 1]", "", a4, 0},
      {"not an array", "/MediaBox 612", "", a4, 0},
      {"single precision widened", "/MediaBox [0 0 595.276 841.89]", "",
       {0, 0, static_cast<double>(595.276f), static_cast<double>(841.89f)}, 0},
      {"inherited from the page tree", "", "/MediaBox [0 0 300 400]", {0, 0, 300, 400}, 0},
      {"page's own box wins", "/MediaBox [0 0 100 200]", "/MediaBox [0 0 300 400]",
       {0, 0, 100, 200}, 0},
      {"negative origin", "/MediaBox [-10 -20 90 80]", "", {-10, -20, 90, 80}, 0},
      {"rotate -90", "/Rotate -90", "", a4, 3},
      {"rotate 450", "/Rotate 450", "", a4, 1},
      {"rotate 45", "/Rotate 45", "", a4, 0},
      {"rotate real 90.0", "/Rotate 90.0", "", a4, 0},
      {"rotate 180", "/Rotate 180", "", a4, 2},
      {"rotate -810", "/Rotate -810", "", a4, 3},
      {"rotate on the parent", "", "/Rotate 270", a4, 3},
      {"page's rotate wins", "/Rotate 90", "/Rotate 270", a4, 1},
      {"rotate a name", "/Rotate /R90", "", a4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pdf pdf = open_ok(simple_pdf({PageSpec{"", c.page_entries}}, c.pages_entries));
    auto pages = pdf.pages();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].number, 1u);
    EXPECT_EQ(pages[0].media_box, c.box);
    EXPECT_EQ(pages[0].rotation, c.rotation);
  }
}

TEST(PageInfo, BoxElementsThroughReferences) {
  PdfBuilder b;
  int w = b.add("612");
  Pdf pdf = open_ok(simple_pdf(b, {PageSpec{"", "/MediaBox [0 0 " + std::to_string(w) + " 0 R 792]"}}));
  EXPECT_EQ(pdf.pages()[0].media_box, (Rect{0, 0, 612, 792}));
}

TEST(Inherited, ParentLoopEnds) {
  // The page lists a /Parent chain that loops between two nodes that are not in the tree.
  PdfBuilder b;
  int catalog = b.reserve(), tree = b.reserve(), page = b.reserve();
  int x = b.reserve(), y = b.reserve();
  b.set(x, "<< /Parent " + std::to_string(y) + " 0 R >>");
  b.set(y, "<< /Parent " + std::to_string(x) + " 0 R >>");
  b.set(tree, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
  b.set(page, "<< /Type /Page /Parent " + std::to_string(x) + " 0 R >>");
  b.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>");
  Pdf pdf = open_ok(b.write(catalog));
  auto obj = pdf.page_object(1);
  ASSERT_TRUE(obj);
  EXPECT_FALSE(pdf.inherited(obj->getObjGen(), "Rotate"));
  EXPECT_FALSE(pdf.inherited(obj->getObjGen(), "MediaBox"));
}

TEST(Inherited, StopsAfterSixtyFourLevels) {
  // A chain of 70 /Parent nodes whose last one carries /Rotate: too deep to be found,
  // while the same attribute 63 levels up is still found.
  for (int depth : {63, 70}) {
    PdfBuilder b;
    int catalog = b.reserve(), tree = b.reserve(), page = b.reserve();
    int first = b.reserve();
    int node = first;
    for (int i = 1; i < depth; ++i) {
      int next = b.reserve();
      b.set(node, "<< /Parent " + std::to_string(next) + " 0 R >>");
      node = next;
    }
    b.set(node, "<< /Rotate 90 >>");
    b.set(tree, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
    b.set(page, "<< /Type /Page /Parent " + std::to_string(first) + " 0 R >>");
    b.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>");
    Pdf pdf = open_ok(b.write(catalog));
    EXPECT_EQ(pdf.pages()[0].rotation, depth == 63 ? 1 : 0) << depth;
  }
}

TEST(PageContent, ConcatenatesDecodedStreams) {
  PdfBuilder b;
  int s1 = b.add_stream("", "BT (a) Tj ET", true);
  int s2 = b.add_stream("", "BT (b) Tj ET");
  int bad = b.add_stream("/Filter /NoSuchFilter", "raw bytes");
  int catalog = b.reserve(), tree = b.reserve();
  int page = b.add("<< /Type /Page /Parent " + std::to_string(tree) + " 0 R /Contents [" +
                   std::to_string(s1) + " 0 R " + std::to_string(s2) + " 0 R 7 " +
                   std::to_string(bad) + " 0 R] >>");
  b.set(tree, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
  b.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>");
  Pdf pdf = open_ok(b.write(catalog));
  auto content = pdf.page_content(1);
  ASSERT_TRUE(content);
  std::string text(content.value().begin(), content.value().end());
  EXPECT_EQ(text, "BT (a) Tj ET\nBT (b) Tj ET\nraw bytes");

  for (std::uint32_t missing : {0u, 2u}) {
    auto r = pdf.page_content(missing);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, Error::Kind::PageMissing);
    EXPECT_EQ(r.error().message(),
              "page " + std::to_string(missing) + " does not exist in this document");
  }
}

TEST(PageContent, MissingContentsIsEmpty) {
  Pdf pdf = open_ok(simple_pdf({PageSpec{"", ""}}));
  PdfBuilder b;
  int catalog = b.reserve(), tree = b.reserve();
  int page = b.add("<< /Type /Page /Parent " + std::to_string(tree) + " 0 R >>");
  b.set(tree, "<< /Type /Pages /Kids [" + std::to_string(page) + " 0 R] /Count 1 >>");
  b.set(catalog, "<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>");
  Pdf bare = open_ok(b.write(catalog));
  auto content = bare.page_content(1);
  ASSERT_TRUE(content);
  EXPECT_TRUE(content.value().empty());
}

TEST(Open, BadInputsAreErrorsNotCrashes) {
  namespace fs = std::filesystem;
  const std::string missing = "/tmp/velko-definitely-missing.pdf";
  auto r = Pdf::open(missing);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, Error::Kind::Io);
  EXPECT_EQ(r.error().os_error, ENOENT);
  EXPECT_EQ(r.error().message(), "could not read `" + missing + "`: No such file or directory");

  auto dir = Pdf::open(fs::temp_directory_path().string());
  ASSERT_FALSE(dir);
  EXPECT_EQ(dir.error().kind, Error::Kind::Io);
  EXPECT_EQ(dir.error().os_error, EISDIR);

  const std::string good = simple_pdf({PageSpec{"BT ET", ""}});
  std::string bytes;
  {
    std::ifstream f(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(f), {});
  }
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case malformed[] = {
      {"empty file", ""},
      {"text file", "hello, this is not a PDF at all\n"},
      {"header only", "%PDF-1.7\n"},
      {"truncated in the header", bytes.substr(0, 12)},
  };
  for (const Case& c : malformed) {
    SCOPED_TRACE(c.name);
    auto m = Pdf::open(temp_file(c.bytes));
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().kind, Error::Kind::Malformed);
    EXPECT_EQ(m.error().message().rfind("malformed PDF: ", 0), 0u);
  }

  // Cut anywhere, a file must either open (recovery) or fail cleanly.
  for (std::size_t cut = 20; cut < bytes.size(); cut += 37) {
    auto t = Pdf::open(temp_file(bytes.substr(0, cut)));
    if (t) {
      for (const auto& info : t.value().pages()) (void)t.value().page_content(info.number);
    } else {
      EXPECT_EQ(t.error().kind, Error::Kind::Malformed);
    }
  }
}

TEST(Open, UserPasswordIsMalformedButOwnerOnlyOpens) {
  const std::string plain = simple_pdf({PageSpec{"BT (x) Tj ET", ""}});
  for (bool user_password : {true, false}) {
    SCOPED_TRACE(user_password ? "user password" : "owner password only");
    QPDF q;
    q.processFile(plain.c_str());
    const std::string out = plain + (user_password ? ".user.pdf" : ".owner.pdf");
    QPDFWriter w(q, out.c_str());
    w.setR6EncryptionParameters(user_password ? "secret" : "", "owner", true, true, true, true,
                                true, true, qpdf_r3p_full, true);
    w.write();
    auto r = Pdf::open(out);
    if (user_password) {
      ASSERT_FALSE(r);
      EXPECT_EQ(r.error().kind, Error::Kind::Malformed);
    } else {
      ASSERT_TRUE(r) << r.error().message();
      auto content = r.value().page_content(1);
      ASSERT_TRUE(content);
      EXPECT_EQ(std::string(content.value().begin(), content.value().end()), "BT (x) Tj ET");
    }
  }
}

TEST(Helpers, FiltersAndCodecs) {
  EXPECT_TRUE(is_image_codec("DCTDecode"));
  EXPECT_TRUE(is_image_codec("DCT"));
  EXPECT_TRUE(is_image_codec("CCF"));
  EXPECT_TRUE(is_image_codec("JBIG2Decode"));
  EXPECT_FALSE(is_image_codec("dctdecode"));
  EXPECT_FALSE(is_image_codec("JPX"));
  EXPECT_FALSE(is_image_codec("FlateDecode"));

  auto one = QPDFObjectHandle::parse("/FlateDecode");
  EXPECT_EQ(filters_of(one), std::vector<std::string>{"FlateDecode"});
  auto arr = QPDFObjectHandle::parse("[/ASCIIHexDecode 5 /DCTDecode (x)]");
  EXPECT_EQ(filters_of(arr), (std::vector<std::string>{"ASCIIHexDecode", "DCTDecode"}));
  EXPECT_TRUE(filters_of(QPDFObjectHandle::parse("12")).empty());

  auto dict = QPDFObjectHandle::parse("<< /Type /Font /N 3 /Enc /Bad#FF /V 1.5 >>");
  EXPECT_EQ(name_of(dict, "Type"), "Font");
  EXPECT_EQ(name_of(dict, "Enc"), "Bad\xEF\xBF\xBD");
  EXPECT_FALSE(name_of(dict, "N"));
  EXPECT_FALSE(name_of(dict, "Missing"));
  EXPECT_EQ(lookup(dict, "N").value().getIntValue(), 3);
  EXPECT_FALSE(lookup(dict, "Missing"));
  EXPECT_EQ(number_of(lookup(dict, "V").value()), 1.5);
  EXPECT_FALSE(number_of(dict));
}
