#include <gtest/gtest.h>

#include <cerrno>

#include "error.h"
#include "types.h"

using namespace velko;

TEST(Color, ToRgb8AndHex) {
  struct Case {
    Color color;
    std::array<std::uint8_t, 3> rgb;
    const char* hex;
  };
  const Case cases[] = {
      {Gray{0.5f}, {128, 128, 128}, "#808080"},
      {Cmyk{0, 0, 0, 1}, {0, 0, 0}, "#000000"},
      {UnknownColor{}, {0, 0, 0}, "#000000"},
      {Rgb{1.2f, -0.1f, 0.5f}, {255, 0, 128}, "#ff0080"},
      {Rgb{0.0157f, 0.408f, 0.294f}, {4, 104, 75}, "#04684b"},
      {Cmyk{1, 0, 0, 0}, {0, 255, 255}, "#00ffff"},
      {Gray{std::numeric_limits<float>::quiet_NaN()}, {0, 0, 0}, "#000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.color.to_rgb8(), c.rgb) << c.hex;
    EXPECT_EQ(c.color.to_css_hex(), c.hex);
  }
}

TEST(Color, EqualityIsPerVariant) {
  EXPECT_EQ(Color(Gray{0}), Color(Gray{0}));
  EXPECT_FALSE(Color(Gray{0}) == Color(Rgb{0, 0, 0}));
  EXPECT_EQ(Color(UnknownColor{}), Color(UnknownColor{}));
  EXPECT_FALSE(Color(Rgb{1, 0, 0}) == Color(Rgb{1, 0, 0.001f}));
}

TEST(Style, MergesWith) {
  Style a{"F1", 12.0, Gray{0}, RenderMode::Fill};
  Style b = a;
  b.size = 12.004;
  EXPECT_TRUE(a.merges_with(b));
  b.size = 12.02;
  EXPECT_FALSE(a.merges_with(b));
  b = a;
  b.color = Rgb{0, 0, 0};
  EXPECT_FALSE(a.merges_with(b));
  b = a;
  b.font = "Fm0/F1";
  EXPECT_FALSE(a.merges_with(b));
  b = a;
  b.render_mode = RenderMode::Invisible;
  EXPECT_FALSE(a.merges_with(b));
}

TEST(Error, Messages) {
  Error io = Error::io("a.pdf", ENOENT);
  EXPECT_EQ(io.message(), "could not read `a.pdf`: No such file or directory");
  EXPECT_EQ(Error::malformed("bad xref").message(), "malformed PDF: bad xref");
  EXPECT_EQ(Error::page_missing(7).message(), "page 7 does not exist in this document");
}

TEST(Utf8, LossyDecoding) {
  EXPECT_EQ(lossy_utf8("F1"), "F1");
  EXPECT_EQ(lossy_utf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(lossy_utf8("\xD8\xA7"), "\xD8\xA7");       // alef stays
  EXPECT_EQ(lossy_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
  EXPECT_EQ(utf8_to_u32("\xD8\xA7z"), U"\u0627z");
  EXPECT_EQ(u32_to_utf8(U"\u0627\U0001EE00"), "\xD8\xA7\xF0\x9E\xB8\x80");
}
