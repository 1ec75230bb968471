// Line layout: orders a page's runs top to bottom and left to right, groups
// runs whose baselines lie within half a font size of the line's first run
// (never more than half the size as the text and transformation matrices
// scale it: text set at 180 Tf under a 0.05 text matrix is 9 units high, and
// a 90-unit tolerance would merge ten lines into one),
// and joins each group's texts, with one space where a visible gap separates
// two runs.
//
// Ordering compares coordinates exactly, and a comparison involving NaN
// counts as equal. That relation is not a strict weak ordering, which the
// standard sorts require; a hand-written merge sort over run indices is
// stable and stays in bounds whatever the comparator answers.
#include "page/layout.h"

#include <cmath>
#include <cstdint>

namespace vellum {
namespace {

// y descending, then x ascending; NaN on either side compares equal.
bool reads_before(const TextRun& a, const TextRun& b) {
  if (a.y > b.y) return true;
  if (a.y < b.y) return false;
  return a.x < b.x;
}

// Bottom-up stable merge sort of run indices: n log n, one scratch buffer.
std::vector<size_t> reading_order(const std::vector<TextRun>& runs) {
  size_t n = runs.size();
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::vector<size_t> scratch(n);
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      size_t mid = std::min(lo + width, n);
      size_t hi = std::min(lo + 2 * width, n);
      size_t i = lo, j = mid, k = lo;
      // Take from the right half only when it strictly reads first: stable.
      while (i < mid && j < hi) scratch[k++] = reads_before(runs[order[j]], runs[order[i]]) ? order[j++] : order[i++];
      while (i < mid) scratch[k++] = order[i++];
      while (j < hi) scratch[k++] = order[j++];
    }
    order.swap(scratch);
  }
  return order;
}

bool starts_with_space(const std::string& s) { return !s.empty() && s.front() == ' '; }
bool ends_with_space(const std::string& s) { return !s.empty() && s.back() == ' '; }

}  // namespace

Line make_line(std::span<const TextRun* const> runs, GapMeasure measure) {
  Line line;
  if (runs.empty()) return line;
  const TextRun& first = *runs.front();
  line.x = first.x;
  line.y = first.y;
  line.text = first.text;

  auto end_of = [measure](const TextRun& r) { return measure == GapMeasure::UserSpace ? r.end_x : r.x + r.width; };
  auto size_of = [measure](const TextRun& r) { return measure == GapMeasure::UserSpace ? r.effective_size : r.size; };

  double end = end_of(first);
  for (const TextRun* r : runs.subspan(1)) {
    double gap = r->x - end;
    // fmax: a NaN size falls back to the floor instead of poisoning the test.
    double threshold = std::fmax(size_of(*r), 1.0) * 0.2;
    if (gap > threshold && !ends_with_space(line.text) && !starts_with_space(r->text)) line.text.push_back(' ');
    line.text += r->text;
    end = end_of(*r);
  }
  return line;
}

PageText layout_page(const std::vector<TextRun>& runs, const std::array<double, 4>& media_box, GapMeasure measure,
                     LineTolerance tolerance) {
  PageText page;
  page.width = std::fabs(media_box[2] - media_box[0]);
  page.height = std::fabs(media_box[3] - media_box[1]);
  page.needs_ocr = runs.empty();

  // Baselines are user-space y values. The unscaled size is kept where the
  // matrices scale text up (text set with Tf 1 keeps its tolerance of 1.0),
  // and the scaled size where they scale it down, which is where the
  // unscaled size would exceed the text's real height.
  auto size_of = [tolerance](const TextRun& r) {
    if (tolerance == LineTolerance::UnscaledSize) return r.size;
    return std::fmin(r.size, r.effective_size);
  };
  std::vector<const TextRun*> current;
  auto close_line = [&] {
    if (current.empty()) return;
    page.lines.push_back(make_line(current, measure));
    current.clear();
  };
  for (size_t index : reading_order(runs)) {
    const TextRun& r = runs[index];
    if (!current.empty()) {
      const TextRun& f = *current.front();
      // Always against the line's first run, so a line cannot drift.
      double limit = std::fmax(std::fmax(size_of(f), size_of(r)) * 0.5, 1.0);
      if (std::fabs(f.y - r.y) > limit) close_line();
    }
    current.push_back(&r);
  }
  close_line();
  return page;
}

}  // namespace vellum
