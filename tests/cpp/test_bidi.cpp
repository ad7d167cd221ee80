#include <gtest/gtest.h>

#include <string>

#include "bidi.h"

using velko::bidi::visual_to_logical;

namespace {

struct Case {
  const char* name;
  std::string visual;
  bool rtl;
  std::string logical;
};

}  // namespace

TEST(Bidi, VisualToLogical) {
  const Case cases[] = {
      {"empty", "", true, ""},
      {"empty ltr", "", false, ""},
      // beh teh kaf as painted left to right read kaf teh beh
      {"arabic reversed", "\u0628\u062A\u0643", true, "\u0643\u062A\u0628"},
      {"arabic reversed at level 0 too", "\u0628\u062A\u0643", false, "\u0643\u062A\u0628"},
      // digits painted 1 2 3 inside right-to-left text keep their order
      {"digits keep order", "\u0628 123 \u0643", true, "\u0643 123 \u0628"},
      {"arabic-indic digits keep order", "\u0628 \u0661\u0662\u0663 \u0643", true,
       "\u0643 \u0661\u0662\u0663 \u0628"},
      {"latin unchanged", "abc def", false, "abc def"},
      {"latin word in rtl line", "\u0628 abc \u0643", true, "\u0643 abc \u0628"},
      // two paragraphs are each reordered and kept in order; the separator belongs to the
      // first paragraph's range and takes the paragraph level, so it moves with it
      {"paragraphs", "\u0628\u062A\n\u0643\u0645", true, "\n\u062A\u0628\u0645\u0643"},
      {"paragraphs ltr", "ab\ncd", false, "ab\ncd"},
      // parentheses move but are not mirrored
      {"no mirroring", "(\u0628)", true, ")\u0628("},
      // a mark stays attached by position: it is reversed with its letter
      {"mark moves", "\u064E\u0628", true, "\u0628\u064E"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(visual_to_logical(c.visual, c.rtl), c.logical) << c.name;
  }
}

TEST(Bidi, Utf16MatchesUtf8) {
  const std::u16string in = u"\u0628\u062A 42 \u0643";
  EXPECT_EQ(visual_to_logical(std::u16string_view(in), true), u"\u0643 42 \u062A\u0628");
}

TEST(Bidi, InvalidUtf8BecomesReplacement) {
  // A stray continuation byte is replaced, never passed through as garbage.
  EXPECT_EQ(visual_to_logical(std::string("a\x80" "b"), false), "a\uFFFDb");
}

TEST(Bidi, LongLine) {
  std::string in;
  for (int i = 0; i < 20000; ++i) in += "\u0628\u062A ";
  const std::string out = visual_to_logical(in, true);
  ASSERT_EQ(out.size(), in.size());
  EXPECT_EQ(out.substr(0, 5), " \u062A\u0628");
}
