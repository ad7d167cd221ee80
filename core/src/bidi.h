// Visual-to-logical reordering of a line's text with the Unicode bidirectional algorithm.
// Line building assembles text in the order the characters stand on the page (left to
// right); running the algorithm's line reordering over that visual string turns the
// right-to-left runs back into reading order while left-to-right runs inside them
// (numbers, Latin words) keep their internal order.
#pragma once

#include <string>
#include <string_view>

namespace velko::bidi {

// Reorders `text` (UTF-8, visual order) into logical order, analysing it at paragraph
// level 1 when `rtl` is true and 0 otherwise. Paragraphs are reordered one by one and
// appended in order. Characters are moved, never mirrored.
std::string visual_to_logical(std::string_view text, bool rtl);

// The same over UTF-16, for callers that already hold UTF-16 text.
std::u16string visual_to_logical(std::u16string_view text, bool rtl);

}  // namespace velko::bidi
