// Prints, for each PDF given, the page count, the pages velko judges to need OCR and every
// page's verdict and confidence, as one JSON object per file (used by bench/accuracy.py).
#include <cstdio>
#include <string>

#include "document.h"

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    auto doc = velko::Document::open(argv[i]);
    if (!doc) {
      std::fprintf(stderr, "%s\n", doc.error().message().c_str());
      status = 1;
      continue;
    }
    std::string needs, verdicts;
    for (std::uint32_t n : doc.value().pages_needing_ocr()) {
      needs += (needs.empty() ? "" : ", ") + std::to_string(n);
    }
    for (const auto& page : doc.value().pages) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "%s[\"%s\", %.4f]", verdicts.empty() ? "" : ", ",
                    std::string(velko::verdict_text(page.assessment.verdict)).c_str(),
                    page.assessment.confidence);
      verdicts += buf;
    }
    std::printf("{\"file\": \"%s\", \"pages\": %zu, \"needs_ocr\": [%s], \"verdicts\": [%s]}\n",
                argv[i], doc.value().pages.size(), needs.c_str(), verdicts.c_str());
  }
  return status;
}
