// Content interpretation: runs a page's content stream (and the form XObjects it paints)
// and records placed glyphs, ruled lines, marked-content spans and XObject placements.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "graphics.h"
#include "types.h"

namespace velko {

// A horizontal or vertical rule found in a painted path, in page space.
struct RuledLine {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// One Do placement: the qualified XObject name and the CTM when it ran.
struct XObjectUse {
  std::string name;
  std::array<double, 6> ctm{1, 0, 0, 1, 0, 0};
  std::size_t glyph_index = 0;
};

// Glyph-index span [start, end) of a marked-content section with an MCID.
struct McidSpan {
  std::size_t start = 0;
  std::size_t end = 0;
  std::uint32_t mcid = 0;
};

// Glyph-index span [start, end) whose text is replaced by /ActualText.
struct ActualText {
  std::string text;
  std::size_t start = 0;
  std::size_t end = 0;
};

// Everything the interpreter records for one page.
struct PageGlyphs {
  std::vector<Glyph> glyphs;
  std::vector<XObjectUse> xobjects;
  std::vector<ActualText> actual_texts;
  std::vector<McidSpan> mcid_spans;
  std::vector<RuledLine> ruled_lines;
};


// ---------------------------------------------------------------------------------------
// Content-stream tokenizer.
//
// A stream is decoded in one pass into a flat list of operand slots and a list of
// operations that refer to ranges of it. Arrays and dictionaries occupy one slot followed
// by their contents (so nesting costs no allocation and no recursion); strings and names
// are views into the content bytes, decoded only when an operator needs them. The
// content bytes must outlive the decoded Content.

enum class OperandKind : std::uint8_t {
  Null,
  Boolean,
  Integer,
  Real,
  Name,          // raw bytes after the slash, #xx escapes not yet decoded
  String,        // raw bytes between the parentheses, escapes not yet decoded
  HexString,     // raw hex digits (and white space) between < and >
  Array,         // followed by `span` slots of elements
  Dictionary,    // followed by `span` slots of alternating keys and values
  InlineImage,   // the bytes between ID and EI
};

struct Operand {
  std::string_view raw;        // Name, String, HexString, InlineImage
  std::int64_t integer = 0;    // Integer; Boolean as 0/1
  float real = 0;              // Real (the object model's reals are single precision)
  std::uint32_t span = 0;      // Array, Dictionary: number of slots of contents
  OperandKind kind = OperandKind::Null;

  bool is_number() const { return kind == OperandKind::Integer || kind == OperandKind::Real; }
  bool is_string() const { return kind == OperandKind::String || kind == OperandKind::HexString; }
  double number() const {
    return kind == OperandKind::Integer ? static_cast<double>(integer) : static_cast<double>(real);
  }
  // The slot after this operand and all its contents.
  const Operand* next() const {
    return this + 1 + ((kind == OperandKind::Array || kind == OperandKind::Dictionary) ? span : 0);
  }
  // String bytes with escapes decoded. Returns a view of `raw` when no decoding is needed,
  // else a view of `scratch`, which is overwritten.
  std::string_view string_bytes(std::string& scratch) const;
  // Name bytes with #xx escapes decoded, same buffer contract as string_bytes.
  std::string_view name_bytes(std::string& scratch) const;
};

// One operator with its operand slots (top-level operands and their contents).
struct Operation {
  std::string_view op;
  std::span<const Operand> operands;
};

// A decoded content stream.
class Content {
 public:
  std::size_t size() const { return ops_.size(); }
  Operation operation(std::size_t i) const {
    const Op& o = ops_[i];
    return {o.op, std::span<const Operand>(operands_.data() + o.first, o.last - o.first)};
  }
  void clear() {
    operands_.clear();
    ops_.clear();
  }

 private:
  friend bool tokenize_content(std::string_view data, Content& out);
  struct Op {
    std::string_view op;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
  };
  std::vector<Operand> operands_;
  std::vector<Op> ops_;
};

// Decodes `data` into `out` (its storage is reused). Returns false, leaving `out` empty, for
// bytes that cannot be tokenised: a string, hex string, array, dictionary or inline image
// still open at the end of the data; a closing ), ], > or >> that closes nothing or
// something else; a hex string holding anything but hex digits and white space; a brace
// (PostScript calculator syntax, never content); an operator inside an array or dictionary.
// Operands left after the last operator are dropped.
bool tokenize_content(std::string_view data, Content& out);

// The operand's name as text (UTF-8, invalid sequences replaced), or absent for a non-name.
std::optional<std::string> object_name(const Operand& operand);

// An open marked-content section.
struct MarkedSection {
  std::optional<std::string> actual_text;
  std::optional<std::uint32_t> mcid;
  std::size_t start = 0;
};

// Executes one page's operations (and the forms they paint) and records PageGlyphs.
class Interpreter {
 public:
  static constexpr std::size_t kMaxMarked = 64;
  static constexpr std::size_t kMaxFormDepth = 8;
  static constexpr std::size_t kMaxSegments = 8192;
  // Operations run inside forms per page. Forms can paint forms many times over (up to
  // eight levels), which multiplies; the budget keeps such a page from running forever.
  // At a few hundred bytes of output per operation at worst, this bounds memory too.
  static constexpr std::size_t kFormOperationBudget = std::size_t{1} << 22;

  Interpreter(const std::vector<FontInfo>& fonts, const std::vector<RawForm>& forms,
              const GlyphWidths& widths, std::size_t form_budget = kFormOperationBudget);
  ~Interpreter();

  void run(const Operation& operation);
  void run_all(const Content& content);
  // Executes the form with this qualified name, if it is one of the page's forms.
  void enter_form(std::string_view qualified);
  // `name` qualified with the path of the forms being executed (Fm0/Fm1/F1).
  std::string qualify(std::string_view name) const;

  const PageGlyphs& output() const { return out_; }
  PageGlyphs take_output() { return std::move(out_); }
  const GraphicsStack& graphics() const { return gs_; }
  const Matrix& text_matrix() const { return tm_; }
  const Matrix& line_matrix() const { return tlm_; }
  std::size_t pending_segments() const { return segments_.size(); }
  std::size_t open_sections() const { return marked_.size(); }

 private:
  struct Segment {
    Point a, b;
    bool rect = false;
  };

  void show(std::string_view bytes);
  void emit(std::uint32_t code, bool is_space);
  void next_line(double tx, double ty);
  void add_segment(Point a, Point b, bool rect);
  void close_subpath();
  void paint();
  void begin_marked(const Operation& operation, bool with_actual_text);
  void end_marked();
  bool font_is_composite();

  GraphicsStack gs_;
  Matrix tm_ = kIdentity;
  Matrix tlm_ = kIdentity;
  std::optional<Point> start_;
  std::optional<Point> current_;
  std::vector<Segment> segments_;
  std::vector<std::string> form_path_;
  std::vector<MarkedSection> marked_;
  PageGlyphs out_;

  const std::vector<FontInfo>& fonts_;
  const std::vector<RawForm>& forms_;
  const GlyphWidths& widths_;

  // Derived lookups, built once per page.
  std::unordered_map<std::string, bool> composite_;   // font name -> first summary is Type0
  std::unordered_map<std::string, std::size_t> form_index_;  // qualified name -> first form
  std::vector<std::unique_ptr<Content>> form_content_;  // decoded on first use
  std::vector<std::uint8_t> form_state_;               // 0 not decoded, 1 decoded, 2 failed
  std::size_t form_budget_;

  std::string cached_font_;
  bool cached_composite_ = false;
  bool cache_valid_ = false;
  std::string scratch_;
};

// Interprets a page's content with its forms. Bytes that cannot be tokenised give a
// PageGlyphs with every list empty; nothing here fails.
PageGlyphs interpret_with_forms(const Bytes& content, const std::vector<FontInfo>& fonts,
                                const std::vector<RawForm>& forms, const GlyphWidths& widths);

// The text a PDF text string encodes: UTF-16BE after an FE FF mark, else ISO 8859-1.
std::string pdf_text_string(std::string_view bytes);

}  // namespace velko
