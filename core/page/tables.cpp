// Ruled-table detection.
//
// The content stream is walked once, keeping only the CTM (cm, q, Q) and the
// current point (m, l, re). Every path segment that is nearly horizontal or
// vertical contributes a y or an x position, whatever later paints it (stroke,
// fill, clip or nothing). The positions are clustered into column and row
// boundaries (2.0 user-space units apart at least), all rules of a page form
// one grid, and every text run lands in the cell holding its start point.
//
// Bands overlap by 2.0 on each side, and a run on an overlap goes to the
// first matching column (left) or row (upper). Both band bounds grow
// monotonically along the boundary lists, so the first matching band is found
// by binary search: placing runs costs O(runs * log(boundaries)).
#include "page/tables.h"

#include <algorithm>
#include <cmath>

#include "page/gstack.h"

namespace vellum {
namespace {

// Boundaries closer than this are one boundary; a segment whose ends differ
// by less than this in y (or x) counts as horizontal (or vertical).
constexpr double kTolerance = 2.0;

// A grid's cells are allocated up front, so a page that draws thousands of
// scattered rules must not turn into an unbounded allocation. Real tables are
// far below this; a grid beyond it is not reported.
constexpr uint64_t kMaxTableCells = uint64_t{1} << 20;

struct Point {
  double x = 0;
  double y = 0;
};

Point apply(const Matrix& m, double x, double y) {
  return {m.a * x + m.c * y + m.e, m.b * x + m.d * y + m.f};
}

// Operand i as a number; missing or non-number operands count as 0.
double number_at(std::span<const Object> operands, size_t i) {
  if (i >= operands.size()) return 0.0;
  return operands[i].number_value().value_or(0.0);
}

void classify(Segments& seg, Point s, Point e) {
  if (std::fabs(s.y - e.y) < kTolerance) {
    seg.ys.push_back(s.y);
    return;
  }
  if (std::fabs(s.x - e.x) < kTolerance) seg.xs.push_back(s.x);
}

Segments collect_segments(const ContentOps& content) {
  Segments seg;
  Matrix ctm;
  GraphicsStack<Matrix> saved;
  Point current;
  for (const Op& op : content.ops) {
    std::string_view name = op.op();
    std::span<const Object> args = content.operands_of(op);
    if (name == "cm") {
      ctm = matrix_of(args).then(ctm);
    } else if (name == "q") {
      saved.save(ctm);
    } else if (name == "Q") {
      saved.restore(ctm);
    } else if (name == "m") {
      current = apply(ctm, number_at(args, 0), number_at(args, 1));
    } else if (name == "l") {
      Point p = apply(ctm, number_at(args, 0), number_at(args, 1));
      classify(seg, current, p);
      current = p;
    } else if (name == "re") {
      double x = number_at(args, 0), y = number_at(args, 1);
      double w = number_at(args, 2), h = number_at(args, 3);
      Point p0 = apply(ctm, x, y), p1 = apply(ctm, x + w, y);
      Point p2 = apply(ctm, x + w, y + h), p3 = apply(ctm, x, y + h);
      classify(seg, p0, p1);
      classify(seg, p1, p2);
      classify(seg, p2, p3);
      classify(seg, p3, p0);
    }
  }
  return seg;
}

// Column of x: the first i with X[i] - 2 <= x < X[i+1] + 2, or npos.
// Both bounds are non-decreasing in i, so the i satisfying the upper bound
// form a suffix starting at q and those satisfying the lower bound a prefix;
// the first match, if any, is q.
size_t column_of(const std::vector<double>& xs, double x) {
  size_t cols = xs.size() - 1;
  size_t lo = 0, hi = cols;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (x < xs[mid + 1] + kTolerance) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  if (lo < cols && xs[lo] - kTolerance <= x) return lo;
  return SIZE_MAX;
}

// Row of y (boundaries descending): the first j with
// Y[j+1] - 2 < y <= Y[j] + 2, or npos. Same argument as column_of, mirrored.
size_t row_of(const std::vector<double>& ys, double y) {
  size_t rows = ys.size() - 1;
  size_t lo = 0, hi = rows;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (ys[mid + 1] - kTolerance < y) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  if (lo < rows && y <= ys[lo] + kTolerance) return lo;
  return SIZE_MAX;
}

}  // namespace

std::vector<double> cluster(std::vector<double> values, bool descending) {
  // NaN sorts after every number so that it can never become the first
  // representative (every distance to NaN is "too close", which would
  // swallow all later boundaries); it is then absorbed like a duplicate.
  std::stable_sort(values.begin(), values.end(), [](double a, double b) {
    if (std::isnan(b)) return !std::isnan(a);
    return a < b;
  });
  std::vector<double> kept;
  for (double v : values) {
    if (kept.empty() || std::fabs(v - kept.back()) >= kTolerance) kept.push_back(v);
  }
  if (descending) std::reverse(kept.begin(), kept.end());
  return kept;
}

std::vector<Table> detect_tables(const ContentOps& content, const std::vector<TextRun>& runs, uint64_t* cell_budget) {
  Segments seg = collect_segments(content);
  std::vector<double> xs = cluster(std::move(seg.xs), false);
  std::vector<double> ys = cluster(std::move(seg.ys), true);
  if (xs.size() < 2 || ys.size() < 2) return {};

  Table table;
  table.rows = ys.size() - 1;
  table.cols = xs.size() - 1;
  if (table.rows * table.cols > kMaxTableCells) return {};
  if (cell_budget) {
    if (table.rows * table.cols > *cell_budget) return {};
    *cell_budget -= table.rows * table.cols;
  }
  table.cells.assign(table.rows, std::vector<std::string>(table.cols));

  for (const TextRun& run : runs) {
    size_t col = column_of(xs, run.x);
    if (col == SIZE_MAX) continue;
    size_t row = row_of(ys, run.y);
    if (row == SIZE_MAX) continue;
    std::string& cell = table.cells[row][col];
    if (!cell.empty() && cell.back() != ' ') cell.push_back(' ');
    cell += run.text;
  }

  std::vector<Table> out;
  out.push_back(std::move(table));
  return out;
}

}  // namespace vellum
