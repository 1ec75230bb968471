// Column gutters, found in one pass down the page's lines.
//
// Every gap between two fragments of a line opens a candidate gutter: the
// band of white space between them. Each following line narrows the band to
// the widest part of it that the line leaves free (a line that holds text on
// one side only, like the last lines of a column that ends early, leaves the
// whole band free), and the candidate ends at the first line that leaves
// less than half a font size. An ended candidate becomes a gutter when at
// least three lines hold text on each side of it and both sides look like
// running text: most of their lines (60%) are at least eight font sizes long
// and fill at least 70% of their side's width. Running text wraps at the
// column's edge, so its lines fill the column; the cells of a table are a
// few words each, of uneven lengths, and fail that test, so a table keeps
// reading row by row even where its columns are far apart.
//
// Candidates alive at one time are disjoint bands at least half a font size
// wide, and at most kMaxActive of them are followed. Each line costs a binary
// search per candidate, and each ended candidate one pass over its lines, so
// the whole is n log n in the fragments of the page.
#include "page/columns.h"

#include <algorithm>
#include <cmath>

namespace vellum {
namespace {

constexpr size_t kMinSideLines = 3;
constexpr double kMinGutterEm = 0.5;
constexpr double kRunningTextEm = 8;
constexpr double kFillShare = 0.7;
constexpr double kFilledLines = 0.6;
constexpr size_t kMaxActive = 32;
// A column's first lines may sit above the first line that shows both sides
// (columns whose baselines do not align): look back this many lines.
constexpr size_t kLookBack = 8;

using Frags = std::span<const Fragment>;

struct Candidate {
  double a = 0, b = 0;  // the band
  double em = 0;        // font size where it opened
  size_t first = 0, last = 0;
  size_t left_lines = 0, right_lines = 0, both_lines = 0;
};

// First fragment ending after u (fragments are disjoint and sorted, so their
// ends ascend too); line.size() when none does.
size_t first_ending_after(Frags line, double u) {
  size_t lo = 0, hi = line.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (line[mid].hi > u) hi = mid;
    else lo = mid + 1;
  }
  return lo;
}

size_t first_starting_at(Frags line, double u) {
  size_t lo = 0, hi = line.size();
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (line[mid].lo >= u) hi = mid;
    else lo = mid + 1;
  }
  return lo;
}

bool overlaps_band(Frags line, double a, double b) {
  size_t k = first_ending_after(line, a);
  return k < line.size() && line[k].lo < b;
}

// Narrows c's band to the widest part line leaves free; false when that is
// too narrow.
bool follow(Candidate& c, Frags line) {
  size_t k = first_ending_after(line, c.a);
  double best_a = c.a, best_b = c.b;
  if (k < line.size() && line[k].lo < c.b) {
    double start = c.a, widest = -1;
    for (; k < line.size() && line[k].lo < c.b; ++k) {
      if (line[k].lo - start > widest) widest = line[k].lo - start, best_a = start, best_b = line[k].lo;
      start = std::max(start, line[k].hi);
    }
    if (c.b - start > widest) widest = c.b - start, best_a = start, best_b = c.b;
    if (!(widest >= std::fmax(kMinGutterEm * c.em, 1.0))) return false;
  }
  c.a = best_a;
  c.b = best_b;
  return true;
}

// Whether the fragments beside the band on one side, over the candidate's
// lines, look like running text.
bool running_text(const Candidate& c, Frags fragments, std::span<const size_t> line_start, bool left,
                  std::vector<const Fragment*>& side) {
  side.clear();
  double lo = INFINITY, hi = -INFINITY;
  for (size_t i = c.first; i <= c.last; ++i) {
    Frags line = fragments.subspan(line_start[i], line_start[i + 1] - line_start[i]);
    const Fragment* f = nullptr;
    if (left) {
      size_t k = first_ending_after(line, c.a);
      if (k > 0) f = &line[k - 1];
    } else {
      // A column's lines start at the gutter; text further right, where
      // this column has ended early, belongs to another one.
      size_t k = first_starting_at(line, c.b);
      if (k < line.size() && line[k].lo - c.b <= 2 * line[k].size) f = &line[k];
    }
    if (f == nullptr) continue;
    side.push_back(f);
    lo = std::fmin(lo, f->lo);
    hi = std::fmax(hi, f->hi);
  }
  if (side.size() < kMinSideLines) return false;
  double width = hi - lo;
  size_t filled = 0;
  for (const Fragment* f : side) {
    double w = f->hi - f->lo;
    if (w >= kFillShare * width && w >= kRunningTextEm * f->size) ++filled;
  }
  return static_cast<double>(filled) >= kFilledLines * static_cast<double>(side.size());
}

}  // namespace

std::vector<ColumnRegion> find_columns(std::span<const Fragment> fragments, std::span<const size_t> line_start) {
  std::vector<ColumnRegion> regions;
  if (line_start.size() < 2) return regions;
  size_t lines = line_start.size() - 1;
  auto line_at = [&](size_t i) { return fragments.subspan(line_start[i], line_start[i + 1] - line_start[i]); };

  std::vector<Candidate> active, next;
  std::vector<const Fragment*> side;
  auto close = [&](Candidate& c) {
    if (c.both_lines == 0 || c.left_lines < kMinSideLines || c.right_lines < kMinSideLines) return;
    if (!running_text(c, fragments, line_start, true, side) || !running_text(c, fragments, line_start, false, side))
      return;
    size_t first = c.first;
    for (size_t back = 0; back < kLookBack && first > 0 && !overlaps_band(line_at(first - 1), c.a, c.b); ++back) --first;
    regions.push_back(ColumnRegion{first, c.last, {c.a + (c.b - c.a) / 2}});
  };
  auto count_sides = [](Candidate& c, Frags line) {
    bool left = first_ending_after(line, c.a) > 0;
    bool right = first_starting_at(line, c.b) < line.size();
    c.left_lines += left;
    c.right_lines += right;
    c.both_lines += left && right;
  };

  for (size_t i = 0; i < lines; ++i) {
    Frags line = line_at(i);
    next.clear();
    for (Candidate& c : active) {
      if (follow(c, line)) {
        c.last = i;
        count_sides(c, line);
        next.push_back(c);
      } else {
        close(c);
      }
    }
    active.swap(next);
    for (size_t j = 1; j < line.size() && active.size() < kMaxActive; ++j) {
      Candidate c;
      c.a = line[j - 1].hi;
      c.b = line[j].lo;
      c.em = std::fmax(line[j - 1].size, line[j].size);
      if (!(c.b - c.a >= std::fmax(kMinGutterEm * c.em, 1.0))) continue;
      bool taken = false;
      for (const Candidate& o : active) taken = taken || (o.a < c.b && c.a < o.b);
      if (taken) continue;
      c.first = c.last = i;
      count_sides(c, line);
      active.push_back(c);
    }
  }
  for (Candidate& c : active) close(c);

  // Gutters over overlapping lines (three or more columns) make one region.
  std::sort(regions.begin(), regions.end(),
            [](const ColumnRegion& x, const ColumnRegion& y) { return x.first_line < y.first_line; });
  std::vector<ColumnRegion> merged;
  for (ColumnRegion& r : regions) {
    if (!merged.empty() && r.first_line <= merged.back().last_line) {
      ColumnRegion& m = merged.back();
      m.last_line = std::max(m.last_line, r.last_line);
      m.cuts.insert(m.cuts.end(), r.cuts.begin(), r.cuts.end());
      continue;
    }
    merged.push_back(std::move(r));
  }
  for (ColumnRegion& m : merged) std::sort(m.cuts.begin(), m.cuts.end());
  return merged;
}

}  // namespace vellum
