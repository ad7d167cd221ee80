// glyph_names over arbitrary bytes: a CFF program must never crash or over-read.
#include <cstddef>
#include <cstdint>

#include "cff.h"
#include "encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto names = velko::cff::glyph_names(std::span(data, size));
  for (const auto& [code, name] : names) (void)velko::glyph_name_to_string(name);
  (void)velko::cff::parse_dict(std::span(data, size));
  return 0;
}
