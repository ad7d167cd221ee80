// Time to build the FontMaps of every page of the PDFs given on the command line:
// copying the font resources out of the file (page_raw_fonts) and building the font
// model from them (FontMap::from_raw), reported separately.
//
//   bench_fontmaps [--repeat N] file.pdf...
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "font.h"
#include "parser.h"

using Clock = std::chrono::steady_clock;

namespace {

double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 1;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      paths.emplace_back(argv[i]);
    }
  }
  if (paths.empty()) {
    std::fprintf(stderr, "usage: %s [--repeat N] file.pdf...\n", argv[0]);
    return 2;
  }

  double total_copy = 0, total_build = 0;
  std::size_t total_pages = 0, total_fonts = 0, total_untrusted = 0;
  for (const auto& path : paths) {
    auto pdf = velko::Pdf::open(path);
    if (!pdf) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), pdf.error().message().c_str());
      continue;
    }
    double copy_ms = 0, build_ms = 0;
    std::size_t pages = pdf.value().page_count(), fonts = 0, untrusted = 0;
    for (int r = 0; r < repeat; ++r) {
      for (std::uint32_t n = 1; n <= pages; ++n) {
        auto t0 = Clock::now();
        auto raw = pdf.value().page_raw_fonts(n);
        copy_ms += ms_since(t0);
        if (!raw) continue;
        auto t1 = Clock::now();
        velko::FontMap map = velko::FontMap::from_raw(std::move(raw.value()));
        build_ms += ms_since(t1);
        if (r == 0) {
          fonts += map.fonts.size();
          for (const auto& [name, font] : map.fonts) untrusted += font.untrustworthy;
        }
      }
    }
    copy_ms /= repeat;
    build_ms /= repeat;
    std::printf("%s: %zu pages, %zu fonts (%zu untrustworthy ToUnicode), copy %.2f ms, "
                "build %.2f ms, %.1f us/page\n",
                path.c_str(), pages, fonts, untrusted, copy_ms, build_ms,
                pages ? 1000 * (copy_ms + build_ms) / double(pages) : 0.0);
    total_copy += copy_ms;
    total_build += build_ms;
    total_pages += pages;
    total_fonts += fonts;
    total_untrusted += untrusted;
  }
  std::printf("total: %zu pages, %zu fonts (%zu untrustworthy), copy %.2f ms, build %.2f ms, "
              "%.1f us/page\n",
              total_pages, total_fonts, total_untrusted, total_copy, total_build,
              total_pages ? 1000 * (total_copy + total_build) / double(total_pages) : 0.0);
  return 0;
}
