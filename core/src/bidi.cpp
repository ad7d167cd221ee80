#include "bidi.h"

#include <unicode/ubidi.h>
#include <unicode/unistr.h>

#include <climits>
#include <memory>

namespace velko::bidi {

namespace {

struct BidiCloser {
  void operator()(UBiDi* b) const { ubidi_close(b); }
};
using BidiPtr = std::unique_ptr<UBiDi, BidiCloser>;

}  // namespace

std::u16string visual_to_logical(std::u16string_view text, bool rtl) {
  if (text.empty()) return {};
  // ICU indexes with int32_t; a longer string cannot be analysed, so it stays as it is.
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return std::u16string(text);
  const auto length = static_cast<int32_t>(text.size());

  UErrorCode err = U_ZERO_ERROR;
  BidiPtr para(ubidi_openSized(length, 0, &err));
  BidiPtr line(ubidi_open());
  if (U_FAILURE(err) || !para || !line) return std::u16string(text);

  // The level is given, not detected: the caller knows whether the line is right-to-left.
  ubidi_setPara(para.get(), reinterpret_cast<const UChar*>(text.data()), length,
                rtl ? 1 : 0, nullptr, &err);
  if (U_FAILURE(err)) return std::u16string(text);

  std::u16string out;
  out.reserve(text.size());
  std::u16string buf;
  const int32_t count = ubidi_countParagraphs(para.get());
  for (int32_t p = 0; p < count; ++p) {
    int32_t start = 0, limit = 0;
    err = U_ZERO_ERROR;
    ubidi_getParagraphByIndex(para.get(), p, &start, &limit, nullptr, &err);
    if (U_FAILURE(err) || limit <= start) continue;
    ubidi_setLine(para.get(), start, limit, line.get(), &err);
    if (U_FAILURE(err)) {
      out.append(text.substr(static_cast<std::size_t>(start),
                             static_cast<std::size_t>(limit - start)));
      continue;
    }
    // No options: no mirroring, no inserted or removed controls, so the output has
    // exactly the input's length.
    buf.resize(static_cast<std::size_t>(limit - start));
    const int32_t written = ubidi_writeReordered(
        line.get(), reinterpret_cast<UChar*>(buf.data()), static_cast<int32_t>(buf.size()),
        0, &err);
    if (U_FAILURE(err) || written < 0) {
      out.append(text.substr(static_cast<std::size_t>(start),
                             static_cast<std::size_t>(limit - start)));
      continue;
    }
    out.append(buf.data(), static_cast<std::size_t>(written));
  }
  return out;
}

std::string visual_to_logical(std::string_view text, bool rtl) {
  if (text.empty()) return {};
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return std::string(text);
  const icu::UnicodeString in =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  const std::u16string reordered = visual_to_logical(
      std::u16string_view(reinterpret_cast<const char16_t*>(in.getBuffer()),
                          static_cast<std::size_t>(in.length())),
      rtl);
  std::string out;
  icu::UnicodeString(false, reinterpret_cast<const UChar*>(reordered.data()),
                     static_cast<int32_t>(reordered.size()))
      .toUTF8String(out);
  return out;
}

}  // namespace velko::bidi
