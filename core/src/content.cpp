#include "content.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace velko {

// ---------------------------------------------------------------------------------------
// Tokenizer

namespace {

enum CharClass : std::uint8_t { kRegular = 0, kWhite = 1, kDelim = 2 };

struct CharTable {
  std::uint8_t cls[256];
  std::int8_t hex[256];
  constexpr CharTable() : cls(), hex() {
    for (int i = 0; i < 256; ++i) {
      cls[i] = kRegular;
      hex[i] = -1;
    }
    for (int c : {0, 9, 10, 12, 13, 32}) cls[c] = kWhite;
    for (int c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'}) cls[c] = kDelim;
    for (int c = '0'; c <= '9'; ++c) hex[c] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) hex[c] = static_cast<std::int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) hex[c] = static_cast<std::int8_t>(c - 'A' + 10);
  }
};
constexpr CharTable kChars;

inline bool is_white(unsigned char c) { return kChars.cls[c] == kWhite; }
inline bool is_regular(unsigned char c) { return kChars.cls[c] == kRegular; }

// Classifies a regular token as a number. Returns false for anything else (an operator or
// keyword). Accepts what PDF writers produce: an optional sign, digits, an optional point
// and digits, at least one digit in all.
bool parse_number(std::string_view t, Operand& out) {
  std::size_t i = 0;
  bool neg = false;
  if (t[0] == '+' || t[0] == '-') {
    neg = t[0] == '-';
    i = 1;
  }
  std::size_t digits = 0;
  std::size_t frac_digits = 0;
  bool point = false;
  std::uint64_t mant = 0;  // all digits, integer and fraction
  bool overflow = false;
  for (std::size_t j = i; j < t.size(); ++j) {
    unsigned char c = static_cast<unsigned char>(t[j]);
    if (c >= '0' && c <= '9') {
      ++digits;
      if (point) ++frac_digits;
      if (mant > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) {
        overflow = true;
      } else {
        mant = mant * 10 + (c - '0');
      }
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  if (!point) {
    out.kind = OperandKind::Integer;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (overflow || mant > kMax) {
      // Out-of-range integers saturate rather than wrap.
      out.integer = neg ? std::numeric_limits<std::int64_t>::min()
                        : std::numeric_limits<std::int64_t>::max();
    } else {
      out.integer = neg ? -static_cast<std::int64_t>(mant) : static_cast<std::int64_t>(mant);
    }
    return true;
  }
  out.kind = OperandKind::Real;
  // Fast path: both the digits and the power of ten are exact floats, so one division gives
  // the correctly rounded single-precision value.
  static constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                     1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
  if (!overflow && mant <= (std::uint64_t{1} << 24) && frac_digits <= 10) {
    float v = static_cast<float>(mant) / kPow10[frac_digits];
    out.real = neg ? -v : v;
    return true;
  }
  const char* b = t.data() + i;
  const char* e = t.data() + t.size();
  float v = 0;
  auto r = std::from_chars(b, e, v, std::chars_format::fixed);
  if (r.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone then: a long integer part means overflow,
    // otherwise the value underflowed.
    std::size_t int_digits = digits - frac_digits;
    v = int_digits > 30 ? std::numeric_limits<float>::infinity() : 0.0f;
  } else if (r.ec != std::errc() || r.ptr != e) {
    v = 0;
  }
  out.real = neg ? -v : v;
  return true;
}

// True when the bytes at `pos` look like content-stream text rather than binary sample
// data: what follows a genuine EI is operators and operands.
bool looks_like_content(std::string_view d, std::size_t pos) {
  std::size_t end = std::min(d.size(), pos + 32);
  for (std::size_t k = pos; k < end; ++k) {
    unsigned char c = static_cast<unsigned char>(d[k]);
    if (c == 9 || c == 10 || c == 12 || c == 13) continue;
    if (c < 32 || c > 126) return false;
  }
  return true;
}

bool ei_at(std::string_view d, std::size_t k) {
  return k + 1 < d.size() && d[k] == 'E' && d[k + 1] == 'I' &&
         (k + 2 == d.size() || !is_regular(static_cast<unsigned char>(d[k + 2])));
}

// Finds the EI that ends inline image data starting at `start`. Returns the offset of the
// E, or npos. A declared length (/L or /Length) is trusted when an EI follows it; otherwise
// the first EI that stands alone and is followed by text-like bytes wins, falling back to
// the first EI that stands alone at all.
std::size_t find_image_end(std::string_view d, std::size_t start, std::int64_t declared) {
  if (declared >= 0 && static_cast<std::uint64_t>(declared) <= d.size() - start) {
    std::size_t k = start + static_cast<std::size_t>(declared);
    while (k < d.size() && is_white(static_cast<unsigned char>(d[k]))) ++k;
    if (ei_at(d, k)) return k;
  }
  std::size_t first = std::string_view::npos;
  for (std::size_t k = start; k + 1 < d.size(); ++k) {
    if (d[k] != 'E') continue;
    if (!ei_at(d, k)) continue;
    if (k == 0 || !is_white(static_cast<unsigned char>(d[k - 1]))) continue;
    if (first == std::string_view::npos) first = k;
    if (looks_like_content(d, k + 2)) return k;
  }
  return first;
}

// The /L (or /Length) integer among an inline image's dictionary operands, or -1.
std::int64_t declared_length(std::span<const Operand> ops) {
  for (const Operand* p = ops.data(); p < ops.data() + ops.size(); p = p->next()) {
    const Operand* v = p->next();
    if (p->kind != OperandKind::Name || v >= ops.data() + ops.size()) continue;
    if ((p->raw == "L" || p->raw == "Length") && v->kind == OperandKind::Integer) {
      return v->integer;
    }
  }
  return -1;
}

}  // namespace

bool tokenize_content(std::string_view d, Content& out) {
  out.clear();
  auto& operands = out.operands_;
  auto& ops = out.ops_;
  // Rough guess from typical content (one slot per ~5 bytes) avoids most regrowth.
  operands.reserve(std::min<std::size_t>(d.size() / 5 + 16, 1 << 20));
  ops.reserve(std::min<std::size_t>(d.size() / 12 + 16, 1 << 19));
  std::vector<std::uint32_t> open;  // slots of the arrays and dictionaries not yet closed
  std::uint32_t op_first = 0;
  const std::size_t n = d.size();
  const auto* p = reinterpret_cast<const unsigned char*>(d.data());
  std::size_t i = 0;

  auto fail = [&]() {
    out.clear();
    return false;
  };
  auto push = [&](OperandKind kind, std::string_view raw = {}) -> Operand& {
    Operand& o = operands.emplace_back();
    o.kind = kind;
    o.raw = raw;
    return o;
  };
  auto close = [&](OperandKind kind) {
    if (open.empty() || operands[open.back()].kind != kind) return false;
    Operand& o = operands[open.back()];
    o.span = static_cast<std::uint32_t>(operands.size() - open.back() - 1);
    open.pop_back();
    return true;
  };

  while (i < n) {
    unsigned char c = p[i];
    if (is_white(c)) {
      ++i;
      continue;
    }
    switch (c) {
      case '%':
        while (i < n && p[i] != '\n' && p[i] != '\r') ++i;
        continue;
      case '(': {
        std::size_t j = i + 1;
        int depth = 1;
        for (; j < n; ++j) {
          unsigned char ch = p[j];
          if (ch == '\\') {
            ++j;
          } else if (ch == '(') {
            ++depth;
          } else if (ch == ')') {
            if (--depth == 0) break;
          }
        }
        if (j >= n) return fail();
        push(OperandKind::String, d.substr(i + 1, j - i - 1));
        i = j + 1;
        continue;
      }
      case '<': {
        if (i + 1 < n && p[i + 1] == '<') {
          open.push_back(static_cast<std::uint32_t>(operands.size()));
          push(OperandKind::Dictionary);
          i += 2;
          continue;
        }
        std::size_t j = i + 1;
        for (; j < n && p[j] != '>'; ++j) {
          if (kChars.hex[p[j]] < 0 && !is_white(p[j])) return fail();
        }
        if (j >= n) return fail();
        push(OperandKind::HexString, d.substr(i + 1, j - i - 1));
        i = j + 1;
        continue;
      }
      case '>':
        if (i + 1 < n && p[i + 1] == '>' && close(OperandKind::Dictionary)) {
          i += 2;
          continue;
        }
        return fail();
      case '[':
        open.push_back(static_cast<std::uint32_t>(operands.size()));
        push(OperandKind::Array);
        ++i;
        continue;
      case ']':
        if (!close(OperandKind::Array)) return fail();
        ++i;
        continue;
      case ')':
      case '{':
      case '}':
        return fail();
      case '/': {
        std::size_t j = i + 1;
        while (j < n && is_regular(p[j])) ++j;
        push(OperandKind::Name, d.substr(i + 1, j - i - 1));
        i = j;
        continue;
      }
      default:
        break;
    }
    // A regular token: number, keyword or operator.
    std::size_t j = i + 1;
    while (j < n && is_regular(p[j])) ++j;
    std::string_view tok = d.substr(i, j - i);
    i = j;
    Operand num;
    if (parse_number(tok, num)) {
      operands.push_back(num);
      continue;
    }
    if (tok == "true" || tok == "false") {
      push(OperandKind::Boolean).integer = tok[0] == 't';
      continue;
    }
    if (tok == "null") {
      push(OperandKind::Null);
      continue;
    }
    if (!open.empty()) return fail();
    const auto last = static_cast<std::uint32_t>(operands.size());
    ops.push_back({tok, op_first, last});
    op_first = last;
    if (tok == "ID") {
      // Inline image data: binary, so it must not be tokenised. One white-space byte
      // separates ID from the data.
      std::size_t start = i;
      if (start < n && is_white(p[start])) ++start;
      const Content::Op& id = ops.back();
      std::int64_t declared = declared_length(
          std::span<const Operand>(operands.data() + id.first, id.last - id.first));
      std::size_t end = find_image_end(d, start, declared);
      if (end == std::string_view::npos) return fail();
      std::size_t data_end = end;
      // The white space before EI belongs to the syntax, not the data.
      if (data_end > start && is_white(p[data_end - 1])) --data_end;
      push(OperandKind::InlineImage, d.substr(start, data_end - start));
      ops.push_back({d.substr(end, 2), op_first, op_first + 1});
      op_first = op_first + 1;
      i = end + 2;
    }
  }
  if (!open.empty()) return fail();
  // Operands after the last operator belong to no operation.
  operands.resize(op_first);
  return true;
}

std::string_view Operand::string_bytes(std::string& scratch) const {
  if (kind == OperandKind::HexString) {
    scratch.clear();
    int hi = -1;
    for (unsigned char c : raw) {
      int v = kChars.hex[c];
      if (v < 0) continue;
      if (hi < 0) {
        hi = v;
      } else {
        scratch.push_back(static_cast<char>(hi * 16 + v));
        hi = -1;
      }
    }
    // An odd final digit is read as if followed by 0.
    if (hi >= 0) scratch.push_back(static_cast<char>(hi * 16));
    return scratch;
  }
  if (kind != OperandKind::String) return {};
  if (raw.find_first_of("\\\r") == std::string_view::npos) return raw;
  scratch.clear();
  const std::size_t n = raw.size();
  for (std::size_t i = 0; i < n; ++i) {
    char c = raw[i];
    if (c == '\r') {
      // An end of line inside a string is one line feed, whatever its bytes.
      scratch.push_back('\n');
      if (i + 1 < n && raw[i + 1] == '\n') ++i;
      continue;
    }
    if (c != '\\') {
      scratch.push_back(c);
      continue;
    }
    if (++i >= n) break;
    c = raw[i];
    switch (c) {
      case 'n': scratch.push_back('\n'); break;
      case 'r': scratch.push_back('\r'); break;
      case 't': scratch.push_back('\t'); break;
      case 'b': scratch.push_back('\b'); break;
      case 'f': scratch.push_back('\f'); break;
      case '\r':
        if (i + 1 < n && raw[i + 1] == '\n') ++i;
        break;
      case '\n':
        break;
      default:
        if (c >= '0' && c <= '7') {
          int v = c - '0';
          for (int k = 0; k < 2 && i + 1 < n && raw[i + 1] >= '0' && raw[i + 1] <= '7'; ++k) {
            v = v * 8 + (raw[++i] - '0');
          }
          scratch.push_back(static_cast<char>(v & 0xFF));
        } else {
          // \( \) \\ and any unknown escape: the character itself.
          scratch.push_back(c);
        }
    }
  }
  return scratch;
}

std::string_view Operand::name_bytes(std::string& scratch) const {
  if (kind != OperandKind::Name) return {};
  if (raw.find('#') == std::string_view::npos) return raw;
  scratch.clear();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '#' && i + 2 < raw.size()) {
      int hi = kChars.hex[static_cast<unsigned char>(raw[i + 1])];
      int lo = kChars.hex[static_cast<unsigned char>(raw[i + 2])];
      if (hi >= 0 && lo >= 0) {
        scratch.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    scratch.push_back(raw[i]);
  }
  return scratch;
}

std::optional<std::string> object_name(const Operand& operand) {
  if (operand.kind != OperandKind::Name) return std::nullopt;
  std::string scratch;
  return lossy_utf8(operand.name_bytes(scratch));
}

std::string pdf_text_string(std::string_view bytes) {
  std::string out;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return utf16be_to_string(std::span<const std::uint8_t>(data + 2, bytes.size() - 2));
  }
  out.reserve(bytes.size());
  for (char b : bytes) append_utf8(out, static_cast<unsigned char>(b));
  return out;
}

// ---------------------------------------------------------------------------------------
// Interpreter

namespace {

constexpr std::uint32_t key(std::string_view op) {
  std::uint32_t k = 0;
  for (char c : op) k = (k << 8) | static_cast<unsigned char>(c);
  return k;
}

// Numeric operands of one operation: how many, the first eight, and the last two.
struct Numbers {
  std::size_t count = 0;
  double first[8] = {};
  double prev = 0, last = 0;
  double operator[](std::size_t i) const { return first[i]; }
};

// Top-level operands: how many, and the first three.
struct TopLevel {
  std::size_t count = 0;
  const Operand* at[3] = {nullptr, nullptr, nullptr};
};

Matrix translate_then(double tx, double ty, const Matrix& m) {
  // translate(tx, ty) × m: only the translation changes.
  Matrix r = m;
  r[4] += tx * m[0] + ty * m[2];
  r[5] += tx * m[1] + ty * m[3];
  return r;
}

double length(Point v) { return std::hypot(v.x, v.y); }

}  // namespace

Interpreter::Interpreter(const std::vector<FontInfo>& fonts, const std::vector<RawForm>& forms,
                         const GlyphWidths& widths, std::size_t form_budget)
    : fonts_(fonts), forms_(forms), widths_(widths), form_budget_(form_budget) {
  composite_.reserve(fonts.size());
  for (const auto& f : fonts) composite_.emplace(f.name, f.subtype == "Type0");
  form_index_.reserve(forms.size());
  for (std::size_t i = 0; i < forms.size(); ++i) form_index_.emplace(forms[i].name, i);
  form_content_.resize(forms.size());
  form_state_.assign(forms.size(), 0);
}

Interpreter::~Interpreter() = default;

std::string Interpreter::qualify(std::string_view name) const {
  if (form_path_.empty()) return std::string(name);
  std::string q;
  for (const auto& part : form_path_) {
    q += part;
    q += '/';
  }
  q += name;
  return q;
}

bool Interpreter::font_is_composite() {
  const std::string& font = gs_.current().font;
  if (!cache_valid_ || font != cached_font_) {
    auto it = composite_.find(font);
    cached_composite_ = it != composite_.end() && it->second;
    cached_font_ = font;
    cache_valid_ = true;
  }
  return cached_composite_;
}

void Interpreter::next_line(double tx, double ty) {
  tlm_ = translate_then(tx, ty, tlm_);
  tm_ = tlm_;
}

void Interpreter::show(std::string_view bytes) {
  if (font_is_composite()) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      std::uint32_t code = (static_cast<unsigned char>(bytes[i]) << 8) |
                           static_cast<unsigned char>(bytes[i + 1]);
      emit(code, false);
    }
  } else {
    for (char b : bytes) {
      auto code = static_cast<unsigned char>(b);
      emit(code, code == 32);
    }
  }
}

void Interpreter::emit(std::uint32_t code, bool is_space) {
  const GraphicsState& s = gs_.current();
  const double fs = s.font_size;
  const double th = s.horizontal_scaling;
  const Matrix& m = tm_;
  const Matrix& ctm = s.ctm;
  const double w0 = widths_.width(s.font, code);

  Glyph g;
  g.style.font = s.font;
  const bool stroke = s.render_mode == RenderMode::Stroke || s.render_mode == RenderMode::StrokeClip;
  g.style.color = stroke ? s.stroke : s.fill;
  g.style.render_mode = s.render_mode;

  Point dir = apply_linear(ctm, fs * th * m[0], fs * th * m[1]);
  if (!(dir.x == 0 && dir.y == 0)) {
    double q = std::round(std::atan2(dir.y, dir.x) * (180.0 / 3.14159265358979323846) / 90.0);
    std::int64_t qi = std::isnan(q) ? 0 : static_cast<std::int64_t>(q);  // |q| <= 2
    g.rotation = static_cast<std::uint8_t>(qi & 3);
  }
  g.style.size = length(apply_linear(ctm, fs * m[2], fs * m[3]));
  Point origin = apply(ctm, s.rise * m[2] + m[4], s.rise * m[3] + m[5]);
  g.x = origin.x;
  g.y = origin.y;
  g.width = length(apply_linear(ctm, m[0], m[1])) * std::fabs(std::fmax(w0, 0.0) * fs * th);
  g.code = code;
  out_.glyphs.push_back(std::move(g));

  double tx = (w0 * fs + s.char_spacing + (is_space ? s.word_spacing : 0.0)) * th;
  tm_ = translate_then(tx, 0, tm_);
}

void Interpreter::add_segment(Point a, Point b, bool rect) {
  if (segments_.size() >= kMaxSegments) return;
  segments_.push_back({a, b, rect});
}

void Interpreter::close_subpath() {
  if (current_ && start_) add_segment(*current_, *start_, false);
  current_ = start_;
}

void Interpreter::paint() {
  for (const Segment& s : segments_) {
    RuledLine r;
    if (!s.rect) {
      double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y;
      if (std::fabs(dx) > 0.5 && std::fabs(dy) > 0.5) continue;
      r = {s.a.x, s.a.y, s.b.x, s.b.y};
    } else {
      double lox = std::min(s.a.x, s.b.x), hix = std::max(s.a.x, s.b.x);
      double loy = std::min(s.a.y, s.b.y), hiy = std::max(s.a.y, s.b.y);
      double w = hix - lox, h = hiy - loy;
      if (h <= 3 && w > h) {
        double mid = (loy + hiy) / 2;
        r = {lox, mid, hix, mid};
      } else if (w <= 3 && h > w) {
        double mid = (lox + hix) / 2;
        r = {mid, loy, mid, hiy};
      } else {
        continue;
      }
    }
    double ax = std::fabs(r.x1 - r.x0), ay = std::fabs(r.y1 - r.y0);
    if (std::isnan(ax) || std::isnan(ay) || std::max(ax, ay) < 4) continue;
    out_.ruled_lines.push_back(r);
  }
  segments_.clear();
}

void Interpreter::begin_marked(const Operation& operation, bool with_actual_text) {
  MarkedSection section;
  section.start = out_.glyphs.size();
  const Operand* end = operation.operands.data() + operation.operands.size();
  const Operand* first = operation.operands.data();
  if (first < end) {
    const Operand* second = first->next();
    if (second < end && second->kind == OperandKind::Dictionary) {
      const Operand* dict_end = second->next();
      for (const Operand* k = second + 1; k < dict_end;) {
        const Operand* v = k->next();
        if (v >= dict_end) break;
        if (k->kind == OperandKind::Name) {
          std::string_view name = k->name_bytes(scratch_);
          if (name == "MCID") {
            if (v->kind == OperandKind::Integer && v->integer >= 0 &&
                v->integer <= std::int64_t{0xFFFFFFFF}) {
              section.mcid = static_cast<std::uint32_t>(v->integer);
            }
          } else if (with_actual_text && name == "ActualText" && v->is_string()) {
            section.actual_text = pdf_text_string(v->string_bytes(scratch_));
          }
        }
        k = v->next();
      }
    }
  }
  if (marked_.size() < kMaxMarked) marked_.push_back(std::move(section));
}

void Interpreter::end_marked() {
  if (marked_.empty()) return;
  MarkedSection s = std::move(marked_.back());
  marked_.pop_back();
  const std::size_t count = out_.glyphs.size();
  if (count <= s.start) return;
  if (s.actual_text) out_.actual_texts.push_back({std::move(*s.actual_text), s.start, count});
  if (s.mcid) out_.mcid_spans.push_back({s.start, count, *s.mcid});
}

void Interpreter::enter_form(std::string_view qualified) {
  if (form_path_.size() >= kMaxFormDepth) return;
  auto it = form_index_.find(std::string(qualified));
  if (it == form_index_.end()) return;
  const std::size_t index = it->second;
  const RawForm& form = forms_[index];

  // The form runs inside its own graphics-state bracket. Whatever q/Q imbalance its content
  // has stays inside: Q cannot pop states saved outside the form, and states the form leaves
  // saved are dropped when it ends.
  const bool pushed = gs_.save();
  std::optional<GraphicsState> fallback;
  if (!pushed) fallback = gs_.current();
  const std::size_t depth = gs_.depth();
  const std::size_t old_floor = gs_.floor();
  gs_.set_floor(depth);
  gs_.current().ctm = multiply(form.matrix, gs_.current().ctm);
  const Matrix saved_tm = tm_;
  const Matrix saved_tlm = tlm_;
  tm_ = kIdentity;
  tlm_ = kIdentity;
  auto slash = qualified.rfind('/');
  form_path_.emplace_back(slash == std::string_view::npos ? qualified : qualified.substr(slash + 1));

  if (form_state_[index] == 0) {
    auto content = std::make_unique<Content>();
    const auto* bytes = reinterpret_cast<const char*>(form.content.data());
    if (tokenize_content(std::string_view(bytes, form.content.size()), *content)) {
      form_content_[index] = std::move(content);
      form_state_[index] = 1;
    } else {
      form_state_[index] = 2;
    }
  }
  if (form_state_[index] == 1) {
    const Content& content = *form_content_[index];
    for (std::size_t i = 0; i < content.size() && form_budget_ > 0; ++i) {
      --form_budget_;
      run(content.operation(i));
    }
  }

  form_path_.pop_back();
  tm_ = saved_tm;
  tlm_ = saved_tlm;
  gs_.truncate(depth);
  gs_.set_floor(old_floor);
  if (pushed) {
    gs_.pop_into_current();
  } else {
    gs_.current() = std::move(*fallback);
  }
}

void Interpreter::run_all(const Content& content) {
  for (std::size_t i = 0; i < content.size(); ++i) run(content.operation(i));
}

void Interpreter::run(const Operation& operation) {
  const std::string_view op = operation.op;
  if (op.empty() || op.size() > 3) return;

  Numbers nums;
  TopLevel top;
  const Operand* end = operation.operands.data() + operation.operands.size();
  for (const Operand* p = operation.operands.data(); p < end; p = p->next()) {
    if (top.count < 3) top.at[top.count] = p;
    ++top.count;
    if (p->is_number()) {
      double v = p->number();
      if (nums.count < 8) nums.first[nums.count] = v;
      ++nums.count;
      nums.prev = nums.last;
      nums.last = v;
    }
  }
  const Operand* first = top.at[0];
  GraphicsState& s = gs_.current();
  const double n0 = nums.count > 0 ? nums[0] : 0.0;

  auto color = [&](ColorSpaceKind space) -> Color {
    switch (space) {
      case ColorSpaceKind::Gray:
        if (nums.count == 1) return Gray{static_cast<float>(nums[0])};
        break;
      case ColorSpaceKind::Rgb:
        if (nums.count == 3) {
          return Rgb{static_cast<float>(nums[0]), static_cast<float>(nums[1]),
                     static_cast<float>(nums[2])};
        }
        break;
      case ColorSpaceKind::Cmyk:
        if (nums.count == 4) {
          return Cmyk{static_cast<float>(nums[0]), static_cast<float>(nums[1]),
                      static_cast<float>(nums[2]), static_cast<float>(nums[3])};
        }
        break;
      case ColorSpaceKind::Other:
        break;
    }
    return UnknownColor{};
  };
  auto point = [&](double x, double y) { return apply(s.ctm, x, y); };

  switch (key(op)) {
    // Text state.
    case key("Tc"): s.char_spacing = n0; break;
    case key("Tw"): s.word_spacing = n0; break;
    case key("Tz"): s.horizontal_scaling = nums.count > 0 ? n0 / 100.0 : 1.0; break;
    case key("TL"): s.leading = n0; break;
    case key("Ts"): s.rise = n0; break;
    case key("Tr"): {
      // Truncated toward zero; NaN and out-of-range values give Fill.
      s.render_mode = (n0 > -1.0 && n0 < 8.0) ? static_cast<RenderMode>(static_cast<int>(n0))
                                              : RenderMode::Fill;
      break;
    }
    case key("Tf"):
      if (first && first->kind == OperandKind::Name) {
        s.font = qualify(lossy_utf8(first->name_bytes(scratch_)));
      }
      if (nums.count > 0) s.font_size = n0;
      break;

    // Text positioning.
    case key("BT"):
      tm_ = kIdentity;
      tlm_ = kIdentity;
      break;
    case key("Td"):
      if (nums.count == 2) next_line(nums[0], nums[1]);
      break;
    case key("TD"):
      if (nums.count == 2) {
        s.leading = -nums[1];
        next_line(nums[0], nums[1]);
      }
      break;
    case key("Tm"):
      if (nums.count == 6) {
        tm_ = {nums[0], nums[1], nums[2], nums[3], nums[4], nums[5]};
        tlm_ = tm_;
      }
      break;
    case key("T*"): next_line(0, -s.leading); break;

    // Text showing.
    case key("Tj"):
      if (first && first->is_string()) show(first->string_bytes(scratch_));
      break;
    case key("'"):
      next_line(0, -s.leading);
      if (first && first->is_string()) show(first->string_bytes(scratch_));
      break;
    case key("\""):
      if (nums.count == 2) {
        s.word_spacing = nums[0];
        s.char_spacing = nums[1];
      }
      next_line(0, -s.leading);
      if (top.count >= 3 && top.at[2]->is_string()) show(top.at[2]->string_bytes(scratch_));
      break;
    case key("TJ"):
      if (first && first->kind == OperandKind::Array) {
        const Operand* array_end = first->next();
        for (const Operand* e = first + 1; e < array_end; e = e->next()) {
          if (e->is_string()) {
            show(e->string_bytes(scratch_));
          } else if (e->is_number()) {
            const GraphicsState& cur = gs_.current();
            double tx = -e->number() / 1000.0 * cur.font_size * cur.horizontal_scaling;
            tm_ = translate_then(tx, 0, tm_);
          }
        }
      }
      break;

    // Graphics state.
    case key("q"): gs_.save(); break;
    case key("Q"): gs_.restore(); break;
    case key("cm"):
      if (nums.count == 6) {
        Matrix m{nums[0], nums[1], nums[2], nums[3], nums[4], nums[5]};
        s.ctm = multiply(m, s.ctm);
      }
      break;

    // Colour.
    case key("g"): s.fill = color(ColorSpaceKind::Gray); s.fill_space = ColorSpaceKind::Gray; break;
    case key("G"): s.stroke = color(ColorSpaceKind::Gray); s.stroke_space = ColorSpaceKind::Gray; break;
    case key("rg"): s.fill = color(ColorSpaceKind::Rgb); s.fill_space = ColorSpaceKind::Rgb; break;
    case key("RG"): s.stroke = color(ColorSpaceKind::Rgb); s.stroke_space = ColorSpaceKind::Rgb; break;
    case key("k"): s.fill = color(ColorSpaceKind::Cmyk); s.fill_space = ColorSpaceKind::Cmyk; break;
    case key("K"): s.stroke = color(ColorSpaceKind::Cmyk); s.stroke_space = ColorSpaceKind::Cmyk; break;
    case key("cs"):
      if (first && first->kind == OperandKind::Name) {
        s.fill_space = ColorSpaceKind::from_name(first->name_bytes(scratch_));
      }
      break;
    case key("CS"):
      if (first && first->kind == OperandKind::Name) {
        s.stroke_space = ColorSpaceKind::from_name(first->name_bytes(scratch_));
      }
      break;
    case key("sc"):
    case key("scn"): s.fill = color(s.fill_space); break;
    case key("SC"):
    case key("SCN"): s.stroke = color(s.stroke_space); break;

    // Paths.
    case key("m"):
      if (nums.count == 2) {
        start_ = point(nums[0], nums[1]);
        current_ = start_;
      }
      break;
    case key("l"):
      if (nums.count == 2) {
        Point to = point(nums[0], nums[1]);
        if (current_) add_segment(*current_, to, false);
        current_ = to;
      }
      break;
    case key("c"):
    case key("v"):
    case key("y"):
      if (nums.count >= 2) current_ = point(nums.prev, nums.last);
      break;
    case key("h"): close_subpath(); break;
    case key("re"):
      if (nums.count == 4) {
        Point a = point(nums[0], nums[1]);
        Point b = point(nums[0] + nums[2], nums[1] + nums[3]);
        add_segment(a, b, true);
        start_ = a;
        current_ = a;
      }
      break;
    case key("n"):
      segments_.clear();
      start_.reset();
      current_.reset();
      break;
    case key("s"):
    case key("b"):
    case key("b*"):
      // These close the subpath before painting, exactly as h followed by S or B would; a
      // box outlined with three l and s has four sides.
      close_subpath();
      paint();
      break;
    case key("S"):
    case key("f"):
    case key("F"):
    case key("f*"):
    case key("B"):
    case key("B*"):
      paint();
      break;

    // XObjects and marked content.
    case key("Do"):
      if (first && first->kind == OperandKind::Name) {
        std::string q = qualify(lossy_utf8(first->name_bytes(scratch_)));
        out_.xobjects.push_back({q, s.ctm, out_.glyphs.size()});
        enter_form(q);
      }
      break;
    case key("BMC"): begin_marked(operation, false); break;
    case key("BDC"): begin_marked(operation, true); break;
    case key("EMC"): end_marked(); break;
    default: break;
  }
}

PageGlyphs interpret_with_forms(const Bytes& content, const std::vector<FontInfo>& fonts,
                                const std::vector<RawForm>& forms, const GlyphWidths& widths) {
  Content ops;
  const auto* bytes = reinterpret_cast<const char*>(content.data());
  if (!tokenize_content(std::string_view(bytes, content.size()), ops)) return {};
  Interpreter interpreter(fonts, forms, widths);
  interpreter.run_all(ops);
  return interpreter.take_output();
}

}  // namespace velko
