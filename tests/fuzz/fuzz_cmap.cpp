// CMap::parse over arbitrary bytes, then lookups of codes the CMap mentions and of
// codes at the edges of every range.
#include <cstddef>
#include <cstdint>

#include "font.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velko::CMap cmap = velko::CMap::parse(std::span(data, size));
  std::size_t budget = 4096;
  for (const auto& [code, text] : cmap.chars) {
    if (budget-- == 0) break;
    (void)cmap.get(code);
  }
  for (const auto& r : cmap.ranges) {
    if (budget-- == 0) break;
    (void)cmap.get(r.lo);
    (void)cmap.get(r.lo + 1);
    (void)cmap.get(r.hi);
    (void)cmap.get(r.hi - 1);
  }
  for (std::uint32_t code : {0u, 1u, 0xFFu, 0xFFFFu, 0xFFFFFFFFu}) (void)cmap.get(code);
  return 0;
}
