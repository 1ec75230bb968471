// The text state machine: operators to positioned text runs.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "page/content.h"
#include "font/font.h"
#include "page/form.h"

namespace vellum {

// [a b c d e f]: (x, y) maps to (a*x + c*y + e, b*x + d*y + f);
// m.then(n) applies m first, then n (the product M x N).
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  Matrix then(const Matrix& n) const {
    return {a * n.a + b * n.c, a * n.b + b * n.d, c * n.a + d * n.c,
            c * n.b + d * n.d, e * n.a + f * n.c + n.e, e * n.b + f * n.d + n.f};
  }
  static Matrix translate(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }
};

// First six operands; a missing or non-number operand takes the identity's value.
Matrix matrix_of(std::span<const Object> operands);

struct TextRun {
  std::string text;
  // The resource name of the font (shared by the runs after one Tf, so a
  // long name is not copied into every run).
  std::shared_ptr<const std::string> font;
  double x = 0;
  double y = 0;
  double width = 0;  // unscaled text-space advance
  double size = 0;   // Tfs, unscaled
  // In user space: x of the run's end point, and the font size scaled by the
  // text and current transformation matrices (used for word spacing).
  double end_x = 0;
  double effective_size = 0;
  // The writing direction: the text-space x axis through the text matrix and
  // the CTM, as a unit vector in user space ((1, 0) for upright text, and
  // for a run whose matrices collapse that axis).
  double dir_x = 1;
  double dir_y = 0;
  // In user space: y of the run's end point, and how far Ts moved the run
  // off its line's baseline, across the direction (the start point above
  // includes that move; subtracting it gives the line's baseline).
  double end_y = 0;
  double rise = 0;
};

// Text runs one page may show. A page that shows more stops there (its
// result holds kMaxPageTextRuns + 1 runs) and the driver fails the document:
// every run costs a few hundred bytes through layout, and a few KB of Flate
// can show ten million, while the densest real pages show tens of thousands.
inline constexpr size_t kMaxPageTextRuns = size_t{1} << 20;

std::vector<TextRun> extract_runs(const ContentOps& content, const FontMap& fonts);
// Content with forms expanded: fonts[i] is the font map of the expansion's
// resources[i] (font_maps() in page/form.h gives them).
std::vector<TextRun> extract_runs(const ExpandedContent& content,
                                  std::span<const std::shared_ptr<const FontMap>> fonts);

}  // namespace vellum
