// Content-stream tokenizer throughput against qpdf's content parser, and interpreter
// throughput, over the page contents (and form contents) of the PDFs given.
//
//   bench_tokenizer a.pdf b.pdf ...
//
// Also checks that both tokenizers give the same operator sequence for every stream.
#include <qpdf/BufferInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "content.h"
#include "font.h"
#include "parser.h"

using namespace velko;

namespace {

using Clock = std::chrono::steady_clock;

class ConstWidths : public GlyphWidths {
 public:
  double width(std::string_view, std::uint32_t) const override { return 0.5; }
};

struct PageInput {
  Bytes content;
  std::vector<FontInfo> fonts;
  std::vector<RawForm> forms;
  FontMap font_map;
};

// Operator names in order, as qpdf's parser reports them. An inline image's data is one
// object after ID; it stands where our tokenizer puts its EI.
class OperatorCollector : public QPDFObjectHandle::ParserCallbacks {
 public:
  std::vector<std::string> ops;
  std::size_t objects = 0;
  void handleObject(QPDFObjectHandle obj) override {
    ++objects;
    if (obj.isOperator()) {
      ops.push_back(obj.getOperatorValue());
    } else if (obj.isInlineImage()) {
      ops.push_back("EI");
    }
  }
  void handleEOF() override {}
};

class Counter : public QPDFObjectHandle::ParserCallbacks {
 public:
  std::size_t objects = 0;
  void handleObject(QPDFObjectHandle) override { ++objects; }
  void handleEOF() override {}
};

template <class F>
double seconds_for(F&& f, int& reps) {
  // Repeat until at least half a second has passed, to get past timer noise on small inputs.
  reps = 0;
  auto t0 = Clock::now();
  double s = 0;
  do {
    f();
    ++reps;
    s = std::chrono::duration<double>(Clock::now() - t0).count();
  } while (s < 0.5);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s file.pdf...\n", argv[0]);
    return 2;
  }
  std::vector<PageInput> pages;
  std::vector<const Bytes*> streams;  // page contents and form contents
  for (int i = 1; i < argc; ++i) {
    auto pdf = Pdf::open(argv[i]);
    if (!pdf) {
      std::fprintf(stderr, "%s: %s\n", argv[i], pdf.error().message().c_str());
      continue;
    }
    for (const PageInfo& info : pdf.value().pages()) {
      PageInput p;
      auto content = pdf.value().page_content(info.number);
      if (content) p.content = std::move(content).value();
      auto forms = pdf.value().page_forms(info.number);
      if (forms) p.forms = std::move(forms).value();
      auto fonts = pdf.value().page_raw_fonts(info.number);
      if (fonts) {
        for (auto& f : fonts.value()) p.fonts.push_back(f.info);
        p.font_map = FontMap::from_raw(std::move(fonts).value());
      }
      pages.push_back(std::move(p));
    }
  }
  for (const auto& p : pages) {
    streams.push_back(&p.content);
    for (const auto& f : p.forms) streams.push_back(&f.content);
  }
  std::size_t total_bytes = 0;
  for (const Bytes* s : streams) total_bytes += s->size();

  // qpdf needs stream objects to parse; make them once, outside the timing.
  QPDF q;
  q.setSuppressWarnings(true);
  q.emptyPDF();
  std::vector<QPDFObjectHandle> qstreams;
  for (const Bytes* s : streams) {
    qstreams.push_back(QPDFObjectHandle::newStream(&q, std::string(s->begin(), s->end())));
  }

  // VELKO_BENCH_INTERPRETER_ONLY=1 skips to the interpreter, for profiling it alone.
  const bool interpreter_only = std::getenv("VELKO_BENCH_INTERPRETER_ONLY") != nullptr;
  const double mb = total_bytes / 1e6;
  int reps = 0;
  std::size_t sink = 0;
  std::size_t differ = 0;
  double t = 0;
  Content content;
  if (interpreter_only) goto interpreter_phase;
  {
  // Equality of operator sequences.
  std::size_t same = 0, ours_failed = 0, qpdf_failed = 0, total_ops = 0;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const Bytes& b = *streams[i];
    std::vector<std::string> ours;
    bool ok = tokenize_content(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()),
                               content);
    if (ok) {
      for (std::size_t k = 0; k < content.size(); ++k) ours.emplace_back(content.operation(k).op);
    }
    OperatorCollector theirs;
    bool qok = true;
    try {
      QPDFObjectHandle::parseContentStream(qstreams[i], &theirs);
    } catch (const std::exception&) {
      qok = false;
    }
    total_ops += ours.size();
    if (!ok) ++ours_failed;
    if (!qok) ++qpdf_failed;
    if (ok && qok && ours == theirs.ops) {
      ++same;
    } else {
      ++differ;
      std::size_t k = 0;
      while (k < ours.size() && k < theirs.ops.size() && ours[k] == theirs.ops[k]) ++k;
      std::fprintf(stderr, "stream %zu differs at operation %zu (ours %zu ops%s, qpdf %zu ops)\n", i,
                   k, ours.size(), ok ? "" : ", failed", theirs.ops.size());
    }
  }
  std::printf("%zu pages, %zu streams (pages and forms), %.1f KB of content, %zu operations\n",
              pages.size(), streams.size(), total_bytes / 1024.0, total_ops);
  std::printf("operator sequences: %zu identical, %zu different (ours failed %zu, qpdf failed %zu)\n",
              same, differ, ours_failed, qpdf_failed);

  t = seconds_for(
      [&] {
        for (const Bytes* s : streams) {
          tokenize_content(std::string_view(reinterpret_cast<const char*>(s->data()), s->size()),
                           content);
          sink += content.size();
        }
      },
      reps);
  const double ours_mbs = mb * reps / t;
  std::printf("velko tokenizer:                %8.1f MB/s\n", ours_mbs);

  t = seconds_for(
      [&] {
        for (auto& s : qstreams) {
          Counter c;
          try {
            QPDFObjectHandle::parseContentStream(s, &c);
          } catch (const std::exception&) {
          }
          sink += c.objects;
        }
      },
      reps);
  const double qpdf_mbs = mb * reps / t;
  std::printf("qpdf parseContentStream:        %8.1f MB/s\n", qpdf_mbs);

  t = seconds_for(
      [&] {
        for (const Bytes* s : streams) {
          auto in = std::make_shared<BufferInputSource>("bench", std::string(s->begin(), s->end()));
          QPDFTokenizer tok;
          tok.allowEOF();
          for (;;) {
            auto token = tok.readToken(in, "bench", true);
            if (token.getType() == QPDFTokenizer::tt_eof) break;
            if (token.getType() == QPDFTokenizer::tt_word && token.getValue() == "ID") {
              // Mirror the content parser: skip the byte after ID, then the image data.
              char ch;
              in->read(&ch, 1);
              tok.expectInlineImage(in);
              auto img = tok.readToken(in, "bench", true);
              if (img.getType() == QPDFTokenizer::tt_bad) break;
            }
            ++sink;
          }
        }
      },
      reps);
  std::printf("qpdf QPDFTokenizer (lex only):  %8.1f MB/s\n", mb * reps / t);
  std::printf("velko / qpdf parseContentStream: %.1fx\n", ours_mbs / qpdf_mbs);
  }

  interpreter_phase:
  ConstWidths widths;
  std::size_t glyphs = 0;
  // Widths from the pages' real font maps, as the document driver runs it.
  t = seconds_for(
      [&] {
        glyphs = 0;
        for (const auto& p : pages) {
          glyphs += interpret_with_forms(p.content, p.fonts, p.forms, p.font_map).glyphs.size();
        }
      },
      reps);
  std::printf("interpreter (font maps):   %zu glyphs per pass, %.2f M glyphs/s, %.1f MB/s of content\n",
              glyphs, glyphs * reps / t / 1e6, mb * reps / t);
  t = seconds_for(
      [&] {
        glyphs = 0;
        for (const auto& p : pages) {
          glyphs += interpret_with_forms(p.content, p.fonts, p.forms, widths).glyphs.size();
        }
      },
      reps);
  std::printf("interpreter (fixed width): %zu glyphs per pass, %.2f M glyphs/s, %.1f MB/s of content\n",
              glyphs, glyphs * reps / t / 1e6, mb * reps / t);
  if (sink == 42) std::printf(" ");
  return differ == 0 ? 0 : 1;
}
