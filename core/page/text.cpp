// The text state machine: walks a page's operators, keeps the current
// transformation matrix and the text state, and turns every shown string into
// a TextRun positioned in user space.
//
// Only q/Q, cm and the text operators matter here; everything else (paths,
// colours, marked content, Do) passes by. q/Q save and restore the CTM only,
// as the text state is not part of what this machine needs to unwind. The
// saved stack is bounded (page/gstack.h).
//
// Forms come expanded (page/form.h): between the kEnterForm and kLeaveForm
// pseudo-operators, font names are looked up in the form's font map. The
// form starts with the text state in force where it is drawn (the font
// itself, not its name, carries in) and leaves it as it found it, since the
// text state is part of the graphics state its drawing saves and restores.
//
// A run records its width as an unscaled text-space advance (what the font
// reports), and additionally where it ends in user space and its font size
// as scaled by the text and transformation matrices: layout measures word
// gaps with the latter two, so that text set at a tiny size and scaled up by a
// matrix is spaced like text set at its visible size.
#include "page/text.h"

#include <cmath>

#include "page/gstack.h"

namespace vellum {
namespace {

// Operand i as a number, or 0 when it is missing or of another kind.
double number_at(std::span<const Object> operands, size_t i) {
  if (i >= operands.size() || !operands[i].is_number()) return 0;
  return operands[i].as_number();
}

const std::string* string_at(std::span<const Object> operands, size_t i) {
  if (i >= operands.size()) return nullptr;
  return operands[i].string_value();
}

// m <- T(tx, ty) x m. Only the translation changes; computing it directly
// keeps a, b, c and d bit-for-bit (and free of 0 * inf artefacts).
void move_in_text_space(Matrix& m, double tx, double ty) {
  m.e += tx * m.a + ty * m.c;
  m.f += tx * m.b + ty * m.d;
}

void append_latin1(std::string& out, ByteSpan s) {
  for (uint8_t byte : s) {
    if (byte < 0x80) {
      out.push_back(static_cast<char>(byte));
      continue;
    }
    out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
    out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
  }
}

class TextMachine {
 public:
  TextMachine(const FontMap& fonts, std::span<const std::shared_ptr<const FontMap>> form_fonts,
              std::vector<TextRun>& out)
      : fonts_(&fonts), form_fonts_(form_fonts), out_(out) {
    select_font();
  }

  void step(std::string_view op, std::span<const Object> args);

 private:
  void select_font() {
    auto it = fonts_->find(*font_name_);
    font_ = it == fonts_->end() ? nullptr : it->second.get();
  }
  void next_line() {
    move_in_text_space(tlm_, 0, -leading_);
    tm_ = tlm_;
  }
  void show(const std::string* s);
  void enter_form(std::span<const Object> args);
  void leave_form();

  // What a form's drawing saves and restores besides the CTM.
  struct SavedText {
    const FontMap* fonts;
    std::shared_ptr<const std::string> font_name;
    const Font* font;
    double size, char_space, word_space, hscale, leading, rise;
  };

  const FontMap* fonts_;
  std::span<const std::shared_ptr<const FontMap>> form_fonts_;
  std::vector<SavedText> saved_text_;
  std::vector<TextRun>& out_;

  Matrix ctm_;
  GraphicsStack<Matrix> saved_ctm_;
  Matrix tm_;
  Matrix tlm_;
  std::shared_ptr<const std::string> font_name_ = std::make_shared<const std::string>();
  const Font* font_ = nullptr;
  double size_ = 0;       // Tfs
  double char_space_ = 0;  // Tc
  double word_space_ = 0;  // Tw
  double hscale_ = 1;     // Th, as a factor
  double leading_ = 0;    // TL
  double rise_ = 0;       // Ts
};

void TextMachine::show(const std::string* s) {
  if (s == nullptr || out_.size() > kMaxPageTextRuns) return;
  ByteSpan bytes = as_bytes(*s);

  TextRun run;
  double advance = 0;
  if (font_ != nullptr) {
    advance = font_->show_into(bytes, run.text, char_space_, word_space_, size_, hscale_);
  } else {
    // No usable font: bytes are Latin-1 and every glyph is half an em wide.
    append_latin1(run.text, bytes);
    for (uint8_t byte : bytes) {
      double spacing = byte == 32 ? word_space_ : 0;
      advance += hscale_ * (size_ * 0.5 + char_space_ + spacing);
    }
  }

  // Start point: text-space (0, Ts) through Tm, then through the CTM.
  double tx = tm_.c * rise_ + tm_.e;
  double ty = tm_.d * rise_ + tm_.f;
  run.x = ctm_.a * tx + ctm_.c * ty + ctm_.e;
  run.y = ctm_.b * tx + ctm_.d * ty + ctm_.f;
  run.font = font_name_;
  run.width = advance;
  run.size = size_;

  // End point: text-space (advance, Ts) through the same matrices, which is
  // the start point moved by advance * (Tm x CTM).a. Written this way the
  // end is exactly x + width whenever that product has a = 1.
  Matrix m = tm_.then(ctm_);
  run.end_x = run.x + advance * m.a;
  run.end_y = run.y + advance * m.b;
  // A negative Tfs mirrors the glyphs; their visible size is its magnitude.
  run.effective_size = std::fabs(size_) * std::sqrt(m.c * m.c + m.d * m.d);
  // The direction of the text-space x axis; a collapsed or non-finite axis
  // keeps the upright default.
  double axis = std::hypot(m.a, m.b);
  if (axis > 0 && std::isfinite(axis) && m.b != 0) {
    run.dir_x = m.a / axis;
    run.dir_y = m.b / axis;
  } else if (m.a < 0) {
    run.dir_x = -1;
  }
  // Ts moves the start point by (c, d) * Ts; its component across the
  // direction is what raised or lowered the run.
  run.rise = rise_ == 0 ? 0 : rise_ * (m.d * run.dir_x - m.c * run.dir_y);
  out_.push_back(std::move(run));

  move_in_text_space(tm_, advance, 0);
}

void TextMachine::enter_form(std::span<const Object> args) {
  saved_text_.push_back({fonts_, font_name_, font_, size_, char_space_, word_space_, hscale_, leading_, rise_});
  if (args.empty() || !args[0].is_int()) return;
  int64_t index = args[0].as_int();
  if (index >= 0 && static_cast<uint64_t>(index) < form_fonts_.size() && form_fonts_[index])
    fonts_ = form_fonts_[index].get();
}

void TextMachine::leave_form() {
  if (saved_text_.empty()) return;
  const SavedText& s = saved_text_.back();
  fonts_ = s.fonts;
  font_name_ = s.font_name;
  font_ = s.font;
  size_ = s.size;
  char_space_ = s.char_space;
  word_space_ = s.word_space;
  hscale_ = s.hscale;
  leading_ = s.leading;
  rise_ = s.rise;
  saved_text_.pop_back();
}

void TextMachine::step(std::string_view op, std::span<const Object> args) {
  if (op.empty() || op.size() > 2) return;
  switch (op[0]) {
    case '{':
      if (op == kEnterForm) enter_form(args);
      return;
    case '}':
      if (op == kLeaveForm) leave_form();
      return;
    case 'c':
      if (op == "cm") ctm_ = matrix_of(args).then(ctm_);
      return;
    case 'q':
      if (op == "q") saved_ctm_.save(ctm_);
      return;
    case 'Q':
      if (op == "Q") saved_ctm_.restore(ctm_);
      return;
    case 'B':
      if (op == "BT") tm_ = tlm_ = Matrix{};
      return;
    case '\'':
      if (op.size() != 1) return;
      next_line();
      show(string_at(args, 0));
      return;
    case '"':
      if (op.size() != 1) return;
      word_space_ = number_at(args, 0);
      char_space_ = number_at(args, 1);
      next_line();
      if (args.size() >= 3) show(string_at(args, 2));
      return;
    case 'T':
      break;
    default:
      return;
  }
  if (op.size() != 2) return;

  switch (op[1]) {
    case 'f':
      if (!args.empty() && args[0].is_name()) {
        font_name_ = std::make_shared<const std::string>(args[0].as_name());
        select_font();
      }
      size_ = number_at(args, 1);
      return;
    case 'c':
      char_space_ = number_at(args, 0);
      return;
    case 'w':
      word_space_ = number_at(args, 0);
      return;
    case 'z':
      hscale_ = number_at(args, 0) / 100;
      return;
    case 'L':
      leading_ = number_at(args, 0);
      return;
    case 's':
      rise_ = number_at(args, 0);
      return;
    case 'D':
      leading_ = -number_at(args, 1);
      [[fallthrough]];
    case 'd':
      move_in_text_space(tlm_, number_at(args, 0), number_at(args, 1));
      tm_ = tlm_;
      return;
    case 'm':
      tm_ = tlm_ = matrix_of(args);
      return;
    case '*':
      next_line();
      return;
    case 'j':
      show(string_at(args, 0));
      return;
    case 'J': {
      if (args.empty() || !args[0].is_array()) return;
      for (const Object& item : args[0].as_array()) {
        if (item.is_number()) {
          move_in_text_space(tm_, -item.as_number() / 1000 * size_ * hscale_, 0);
          continue;
        }
        show(item.string_value());
      }
      return;
    }
    default:
      return;
  }
}

}  // namespace

Matrix matrix_of(std::span<const Object> operands) {
  static constexpr double kIdentity[6] = {1, 0, 0, 1, 0, 0};
  double v[6];
  for (size_t i = 0; i < 6; ++i)
    v[i] = i < operands.size() && operands[i].is_number() ? operands[i].as_number() : kIdentity[i];
  return Matrix{v[0], v[1], v[2], v[3], v[4], v[5]};
}

namespace {
std::vector<TextRun> run_machine(const ContentOps& content, const FontMap& fonts,
                                 std::span<const std::shared_ptr<const FontMap>> form_fonts) {
  std::vector<TextRun> runs;
  TextMachine machine(fonts, form_fonts, runs);
  for (const Op& op : content.ops) {
    machine.step(op.op(), content.operands_of(op));
    if (runs.size() > kMaxPageTextRuns) break;
  }
  return runs;
}
}  // namespace

std::vector<TextRun> extract_runs(const ContentOps& content, const FontMap& fonts) {
  return run_machine(content, fonts, {});
}

std::vector<TextRun> extract_runs(const ExpandedContent& content,
                                  std::span<const std::shared_ptr<const FontMap>> fonts) {
  static const FontMap kNoFonts;
  return run_machine(content.content, fonts.empty() || !fonts[0] ? kNoFonts : *fonts[0], fonts);
}

}  // namespace vellum
