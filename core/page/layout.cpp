// Line layout. Runs are grouped by writing direction, and each group is laid
// out in its own frame: u along the direction, v across it (upright text has
// u = x and v = y, unchanged, so its coordinates are compared exactly as
// they were drawn). In a frame:
//  1. Runs sort by baseline, top first, then by u, and join a line while
//     their baseline lies within half a font size of the line's first run
//     (never more than half the size as the text and transformation matrices
//     scale it: text set at 180 Tf under a 0.05 text matrix is 9 units high,
//     and a 90-unit tolerance would merge ten lines into one). The baseline
//     is the run's own less what Ts raised or lowered it by, so text moved
//     with Ts stays in its line.
//  2. Column gutters are found over the lines' fragments (page/columns), and
//     each line is cut at them into pieces. Pieces read block by block: lines
//     outside a column region one by one, a region column by column, left to
//     right, each top to bottom.
//  3. A piece whose runs are all smaller than those of the piece below (or
//     above) it in the same column, and lie within that piece's band from
//     below its baseline to above its cap height, joins it: superscripts,
//     subscripts and footnote marks set with a smaller font and moved by the
//     text matrix rather than by Ts.
//  4. A line's runs read by u, joined with one space where a visible gap
//     separates them.
// Groups are emitted by the number of characters they hold, most first.
//
// Ordering compares coordinates exactly, and a comparison involving NaN
// counts as equal. That relation is not a strict weak ordering, which the
// standard sorts require; a hand-written merge sort over run indices is
// stable and stays in bounds whatever the comparator answers. Every step is
// a sort or a pass over the runs: n log n in the runs of the page.
#include "page/layout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "page/columns.h"

namespace vellum {
namespace {

// Bottom-up stable merge sort of order[begin, end): n log n, one scratch
// buffer.
template <class Before>
void merge_sort(std::vector<size_t>& order, size_t begin, size_t end, std::vector<size_t>& scratch, Before before) {
  size_t n = end - begin;
  // Most sequences here are in order already (a line's runs, the lines of a
  // one-column page): one pass finds out.
  size_t ordered = 1;
  while (ordered < n && !before(order[begin + ordered], order[begin + ordered - 1])) ++ordered;
  if (ordered >= n) return;
  scratch.resize(n);
  size_t* from = order.data() + begin;
  size_t* to = scratch.data();
  for (size_t width = 1; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      size_t mid = std::min(lo + width, n);
      size_t hi = std::min(lo + 2 * width, n);
      size_t i = lo, j = mid, k = lo;
      // Take from the right half only when it strictly reads first: stable.
      while (i < mid && j < hi) to[k++] = before(from[j], from[i]) ? from[j++] : from[i++];
      while (i < mid) to[k++] = from[i++];
      while (j < hi) to[k++] = from[j++];
    }
    std::swap(from, to);
  }
  if (from != order.data() + begin) std::copy(from, from + n, order.data() + begin);
}

template <class Before>
void merge_sort(std::vector<size_t>& order, std::vector<size_t>& scratch, Before before) {
  merge_sort(order, 0, order.size(), scratch, before);
}

// Stable counting sort of order by key(index) < keys.
template <class Key>
void counting_sort(std::vector<size_t>& order, size_t keys, std::vector<size_t>& start, std::vector<size_t>& scratch,
                   Key key) {
  start.assign(keys + 1, 0);
  for (size_t i : order) ++start[key(i) + 1];
  for (size_t k = 0; k < keys; ++k) start[k + 1] += start[k];
  scratch.resize(order.size());
  std::vector<size_t> fill(start.begin(), start.end() - 1);
  for (size_t i : order) scratch[fill[key(i)]++] = i;
  order.swap(scratch);
}

bool starts_with_space(const std::string& s) { return !s.empty() && s.front() == ' '; }
bool ends_with_space(const std::string& s) { return !s.empty() && s.back() == ' '; }

// A run in its group's frame.
struct Placed {
  const TextRun* run = nullptr;
  double u0 = 0, u1 = 0;  // start and end along the direction
  double v = 0;           // baseline across it, Ts removed
  double drawn_v = 0;     // where the glyphs stand, Ts included
  double line_size = 0;   // sets the baseline tolerance
  double gap_size = 0;    // sets the word gap
  size_t piece = 0;
};

// Rotation by a whole number of degrees; the quarter turns are exact.
struct Frame {
  double cos = 1, sin = 0;
  bool upright = true;
  static Frame of_degrees(int degrees) {
    switch (degrees) {
      case 0: return {};
      case 90: return {0, 1, false};
      case 180: return {-1, 0, false};
      case 270: return {0, -1, false};
      default: {
        double r = degrees * 3.14159265358979323846 / 180;
        return {std::cos(r), std::sin(r), false};
      }
    }
  }
  double u(double x, double y) const { return upright ? x : x * cos + y * sin; }
  double v(double x, double y) const { return upright ? y : y * cos - x * sin; }
};

// The direction rounded to whole degrees, 0..359; upright for a degenerate one.
int degrees_of(const TextRun& r) {
  if (r.dir_y == 0 && r.dir_x >= 0) return 0;
  double d = std::atan2(r.dir_y, r.dir_x) * 180 / 3.14159265358979323846;
  if (!std::isfinite(d)) return 0;
  long k = std::lround(d);
  return static_cast<int>(((k % 360) + 360) % 360);
}

struct Piece {
  size_t block = 0, column = 0, line = 0;
  size_t anchor = 0;  // its first run in baseline order
  double size = 0;    // its largest line size
  size_t into = SIZE_MAX;
  size_t rank = 0;
};

class GroupLayout {
 public:
  GroupLayout(GapMeasure measure, LineTolerance tolerance) : measure_(measure), tolerance_(tolerance) {}
  void run(const std::vector<TextRun>& runs, const std::vector<size_t>& members, Frame frame,
           std::vector<Line>& out);

 private:
  void place(const std::vector<TextRun>& runs, const std::vector<size_t>& members, Frame frame);
  void group_lines();
  void sort_by_u();
  bool follows_larger(size_t l, const Placed& r) const;
  void rehost_small_runs();
  void split_columns();
  void merge_raised_and_lowered();
  void emit(Frame frame, std::vector<Line>& out);
  void mark_hidden_blanks(const std::vector<size_t>& order, size_t begin, size_t end);

  GapMeasure measure_;
  LineTolerance tolerance_;
  std::vector<Placed> placed_;
  std::vector<size_t> order_, scratch_;
  std::vector<size_t> line_start_;  // lines as ranges of order_
  std::vector<size_t> line_of_, by_u_, moved_to_;
  std::vector<double> line_size_;
  std::vector<Piece> pieces_;
  std::vector<size_t> piece_order_;
  std::vector<bool> hidden_;
  bool plain_ = true;  // one piece per line, none merged
  std::vector<size_t> next_visible_;
};

void GroupLayout::place(const std::vector<TextRun>& runs, const std::vector<size_t>& members, Frame frame) {
  placed_.clear();
  placed_.reserve(members.size());
  for (size_t index : members) {
    const TextRun& r = runs[index];
    Placed p;
    p.run = &r;
    p.u0 = frame.u(r.x, r.y);
    if (measure_ == GapMeasure::UnscaledWidth) p.u1 = p.u0 + r.width;
    else p.u1 = frame.upright ? r.end_x : frame.u(r.end_x, r.end_y);
    p.drawn_v = frame.v(r.x, r.y);
    p.v = r.rise == 0 ? p.drawn_v : p.drawn_v - r.rise;
    // The unscaled size is kept where the matrices scale text up (text set
    // with Tf 1 keeps its tolerance of 1.0), and the scaled size where they
    // scale it down, which is where the unscaled size would exceed the
    // text's real height.
    p.line_size = tolerance_ == LineTolerance::UnscaledSize ? r.size : std::fmin(r.size, r.effective_size);
    p.gap_size = measure_ == GapMeasure::UserSpace ? r.effective_size : r.size;
    placed_.push_back(p);
  }
}

void GroupLayout::group_lines() {
  size_t n = placed_.size();
  order_.resize(n);
  for (size_t i = 0; i < n; ++i) order_[i] = i;
  // Baseline descending, then u ascending; NaN on either side compares equal.
  merge_sort(order_, scratch_, [&](size_t a, size_t b) {
    const Placed& x = placed_[a];
    const Placed& y = placed_[b];
    if (x.v > y.v) return true;
    if (x.v < y.v) return false;
    return x.u0 < y.u0;
  });
  line_start_.clear();
  for (size_t i = 0; i < n; ++i) {
    const Placed& r = placed_[order_[i]];
    if (!line_start_.empty()) {
      // Always against the line's first run, so a line cannot drift.
      const Placed& f = placed_[order_[line_start_.back()]];
      double limit = std::fmax(std::fmax(f.line_size, r.line_size) * 0.5, 1.0);
      if (!(std::fabs(f.v - r.v) > limit)) continue;
    }
    line_start_.push_back(i);
  }
  line_start_.push_back(n);
}

// by_u_: the runs line by line, each line by u.
void GroupLayout::sort_by_u() {
  size_t lines = line_start_.size() - 1;
  line_of_.resize(placed_.size());
  for (size_t l = 0; l < lines; ++l)
    for (size_t i = line_start_[l]; i < line_start_[l + 1]; ++i) line_of_[order_[i]] = l;
  by_u_ = order_;
  for (size_t l = 0; l < lines; ++l)
    merge_sort(by_u_, line_start_[l], line_start_[l + 1], scratch_,
               [&](size_t a, size_t b) { return placed_[a].u0 < placed_[b].u0; });
}

// The run of line l, if any, that ends where r starts (within a quarter of
// its size before, a third after) and is set larger than r: the glyph a
// superscript or subscript r belongs to.
bool GroupLayout::follows_larger(size_t l, const Placed& r) const {
  size_t lo = line_start_[l], hi = line_start_[l + 1];
  // The last run of the line starting at or before r.
  size_t a = lo, b = hi;
  while (a < b) {
    size_t mid = a + (b - a) / 2;
    if (placed_[by_u_[mid]].u0 <= r.u0) a = mid + 1;
    else b = mid;
  }
  for (size_t k = a; k > lo && k + 2 > a; --k) {
    const Placed& q = placed_[by_u_[k - 1]];
    if (&q == &r || !(r.line_size < 0.9 * q.line_size)) continue;
    double d = r.u0 - q.u1;
    if (d >= -0.25 * q.line_size && d <= 0.34 * q.line_size) return true;
  }
  return false;
}

// A run set smaller than its line's text and not attached to a glyph of it,
// but attached to one of the line above or below whose band holds it, moves
// there: in "a/b²" set over two lines the exponent is within the
// tolerance of the numerator's line but belongs after the b.
void GroupLayout::rehost_small_runs() {
  size_t lines = line_start_.size() - 1;
  if (lines < 2) return;
  line_size_.assign(lines, 0);
  for (size_t i = 0; i < placed_.size(); ++i)
    line_size_[line_of_[i]] = std::fmax(line_size_[line_of_[i]], placed_[i].line_size);
  bool moved = false;
  moved_to_.assign(placed_.size(), SIZE_MAX);
  for (size_t i = 0; i < placed_.size(); ++i) {
    const Placed& r = placed_[i];
    size_t l = line_of_[i];
    if (!(r.line_size < 0.9 * line_size_[l]) || follows_larger(l, r)) continue;
    for (size_t host : {l + 1, l - 1}) {
      if (host >= lines) continue;  // l - 1 wraps for l == 0
      double base = placed_[order_[line_start_[host]]].v, size = line_size_[host];
      bool inside = r.drawn_v >= base - 0.45 * size && r.drawn_v + r.line_size <= base + 1.1 * size;
      if (inside && follows_larger(host, r)) {
        moved_to_[i] = host;
        moved = true;
        break;
      }
    }
  }
  if (!moved) return;
  for (size_t i = 0; i < placed_.size(); ++i)
    if (moved_to_[i] != SIZE_MAX) line_of_[i] = moved_to_[i];
  // Lines keep their order and each its baseline order; a line emptied by
  // the moves disappears.
  merge_sort(order_, scratch_, [&](size_t a, size_t b) { return line_of_[a] < line_of_[b]; });
  line_start_.clear();
  for (size_t i = 0; i < order_.size(); ++i)
    if (i == 0 || line_of_[order_[i]] != line_of_[order_[i - 1]]) line_start_.push_back(i);
  line_start_.push_back(order_.size());
  sort_by_u();
}

void GroupLayout::split_columns() {
  size_t lines = line_start_.size() - 1;
  const std::vector<size_t>& by_u = by_u_;
  // Fragments: runs of a line closer than a word gap can explain.
  std::vector<Fragment> fragments;
  std::vector<size_t> fragment_start;
  fragment_start.reserve(lines + 1);
  for (size_t l = 0, i = 0; l < lines; ++l) {
    fragment_start.push_back(fragments.size());
    bool open = false;
    for (size_t end = line_start_[l + 1]; i < end; ++i) {
      const Placed& r = placed_[by_u[i]];
      double lo = r.u0, hi = std::fmax(r.u0, r.u1);
      if (!std::isfinite(lo) || !std::isfinite(hi)) continue;
      if (open && lo - fragments.back().hi <= 0.8 * std::fmax(std::fmax(fragments.back().size, r.gap_size), 1.0)) {
        fragments.back().hi = std::fmax(fragments.back().hi, hi);
        fragments.back().size = std::fmax(fragments.back().size, r.gap_size);
        continue;
      }
      fragments.push_back(Fragment{lo, hi, r.gap_size});
      open = true;
    }
  }
  fragment_start.push_back(fragments.size());
  std::vector<ColumnRegion> regions = find_columns(fragments, fragment_start);
  plain_ = regions.empty();

  // Pieces: (line, column), created in line order.
  pieces_.clear();
  size_t next_region = 0, block = 0;
  bool was_in_region = false;
  std::vector<size_t> column_piece;
  for (size_t l = 0; l < lines; ++l) {
    while (next_region < regions.size() && regions[next_region].last_line < l) ++next_region;
    const ColumnRegion* region =
        next_region < regions.size() && regions[next_region].first_line <= l ? &regions[next_region] : nullptr;
    // A block is a column region or a stretch of lines between regions.
    bool in_region = region != nullptr;
    if (l == 0 || in_region != was_in_region || (in_region && l == region->first_line)) ++block;
    was_in_region = in_region;
    size_t columns = region == nullptr ? 1 : region->cuts.size() + 1;
    column_piece.assign(columns, SIZE_MAX);
    for (size_t i = line_start_[l]; i < line_start_[l + 1]; ++i) {
      Placed& r = placed_[order_[i]];
      size_t column = 0;
      if (region != nullptr)
        while (column < region->cuts.size() && r.u0 >= region->cuts[column]) ++column;
      if (column_piece[column] == SIZE_MAX) {
        column_piece[column] = pieces_.size();
        pieces_.push_back(Piece{block, column, l, order_[i], r.line_size});
      }
      Piece& p = pieces_[column_piece[column]];
      // The anchor is the piece's first run set at its largest size, so a
      // raised mark does not lend the line its baseline.
      if (r.line_size > p.size) p.anchor = order_[i];
      p.size = std::fmax(p.size, r.line_size);
      r.piece = column_piece[column];
    }
  }
  // Reading order of the pieces: block, column, line (pieces were created
  // in line order, and the sort is stable).
  piece_order_.resize(pieces_.size());
  for (size_t i = 0; i < pieces_.size(); ++i) piece_order_[i] = i;
  merge_sort(piece_order_, scratch_, [&](size_t a, size_t b) {
    const Piece& x = pieces_[a];
    const Piece& y = pieces_[b];
    if (x.block != y.block) return x.block < y.block;
    return x.column < y.column;
  });
  for (size_t i = 0; i < piece_order_.size(); ++i) pieces_[piece_order_[i]].rank = i;
}

void GroupLayout::merge_raised_and_lowered() {
  size_t count = pieces_.size();
  // Only a piece set smaller than a neighbour in reading order can merge.
  bool any = false;
  for (size_t rank = 1; rank < count && !any; ++rank) {
    double a = pieces_[piece_order_[rank - 1]].size, b = pieces_[piece_order_[rank]].size;
    any = a < 0.9 * b || b < 0.9 * a;
  }
  if (!any) return;
  plain_ = false;  // (merges may follow)
  // The runs of each piece, by rank, in baseline order; and the same, each
  // piece's by u.
  std::vector<size_t> members(order_), first;
  counting_sort(members, count, first, scratch_, [&](size_t i) { return pieces_[placed_[i].piece].rank; });
  std::vector<size_t> by_u(members);
  for (size_t rank = 0; rank < count; ++rank)
    merge_sort(by_u, first[rank], first[rank + 1], scratch_,
               [&](size_t x, size_t y) { return placed_[x].u0 < placed_[y].u0; });
  // Whether every run of the piece at rank is smaller than the host's text,
  // stands within its band (from 0.45 of its size below its baseline to 1.1
  // of its size above), and stands beside its text: overlapping none of it,
  // within one size of some of it. Smaller text elsewhere on the same
  // height, a sidebar or a letterhead, keeps its own line.
  auto minor = [&](size_t rank, size_t host_rank) {
    const Piece& host = pieces_[piece_order_[host_rank]];
    double base = placed_[host.anchor].v;
    double below = base - 0.45 * host.size, above = base + 1.1 * host.size;
    double overlap = 0.25 * host.size, near = host.size;
    size_t lo = first[host_rank], hi = first[host_rank + 1];
    for (size_t k = first[rank]; k < first[rank + 1]; ++k) {
      const Placed& r = placed_[members[k]];
      if (!(r.line_size < 0.9 * host.size)) return false;
      if (!(r.drawn_v >= below && r.drawn_v + r.line_size <= above)) return false;
      // The host's last run starting before r, and the one after it.
      size_t a = lo, b = hi;
      while (a < b) {
        size_t mid = a + (b - a) / 2;
        if (placed_[by_u[mid]].u0 <= r.u0) a = mid + 1;
        else b = mid;
      }
      double gap_before = a > lo ? r.u0 - placed_[by_u[a - 1]].u1 : INFINITY;
      double gap_after = a < hi ? placed_[by_u[a]].u0 - r.u1 : INFINITY;
      if (!(gap_before > -overlap && gap_after > -overlap)) return false;
      if (!(gap_before <= near || gap_after <= near)) return false;
    }
    return true;
  };
  for (size_t rank = 0; rank < count; ++rank) {
    Piece& p = pieces_[piece_order_[rank]];
    auto same_stream = [&](const Piece& o) { return o.block == p.block && o.column == p.column; };
    // Below it first: a raised mark belongs to the line under it.
    if (rank + 1 < count && same_stream(pieces_[piece_order_[rank + 1]]) && minor(rank, rank + 1)) {
      p.into = piece_order_[rank + 1];
      continue;
    }
    // Above it: the previous piece, or the one it merged into if that was
    // an earlier piece (one merged into this piece is no host).
    if (rank == 0) continue;
    size_t host = piece_order_[rank - 1];
    while (pieces_[host].into != SIZE_MAX && pieces_[host].into != piece_order_[rank]) host = pieces_[host].into;
    if (pieces_[host].into == SIZE_MAX && same_stream(pieces_[host]) && minor(rank, pieces_[host].rank)) p.into = host;
  }
}

void GroupLayout::emit(Frame frame, std::vector<Line>& out) {
  // The final piece of every run. A piece merges into the next one, or into
  // an earlier one that had not merged itself, so the chains end; each is
  // followed once, as every piece on it is then pointed at its end.
  auto final_piece = [&](size_t piece) {
    size_t end = piece;
    while (pieces_[end].into != SIZE_MAX) end = pieces_[end].into;
    while (pieces_[piece].into != SIZE_MAX) {
      size_t next = pieces_[piece].into;
      pieces_[piece].into = end;
      piece = next;
    }
    return end;
  };
  // Runs by piece in reading order, each piece's by u. Without columns and
  // merges the pieces are the lines, in order, and by_u_ is that already.
  std::vector<size_t> sorted_runs, first;
  if (!plain_) {
    for (Placed& r : placed_) r.piece = final_piece(r.piece);
    sorted_runs = order_;
    counting_sort(sorted_runs, pieces_.size(), first, scratch_,
                  [&](size_t i) { return pieces_[placed_[i].piece].rank; });
    for (size_t rank = 0; rank < pieces_.size(); ++rank)
      merge_sort(sorted_runs, first[rank], first[rank + 1], scratch_,
                 [&](size_t a, size_t b) { return placed_[a].u0 < placed_[b].u0; });
  }
  const std::vector<size_t>& order = plain_ ? by_u_ : sorted_runs;
  for (size_t i = 0; i < order.size();) {
    size_t piece = placed_[order[i]].piece;
    size_t stop = i;
    while (stop < order.size() && placed_[order[stop]].piece == piece) ++stop;
    size_t begin = i;
    mark_hidden_blanks(order, begin, stop);
    const Placed& first = placed_[order[i]];
    const Placed& anchor = placed_[pieces_[piece].anchor];
    Line line;
    if (frame.upright) {
      line.x = first.run->x;
      line.y = anchor.run->y;
    } else {
      // The start of the line in page space: u of its first run, v of its
      // anchor's drawn baseline.
      double u = first.u0, v = anchor.drawn_v;
      line.x = u * frame.cos - v * frame.sin;
      line.y = u * frame.sin + v * frame.cos;
    }
    line.text = first.run->text;
    double end = first.u1;
    for (++i; i < stop; ++i) {
      if (hidden_[i - begin]) continue;
      const Placed& r = placed_[order[i]];
      double gap = r.u0 - end;
      // fmax: a NaN size falls back to the floor instead of poisoning the test.
      double threshold = std::fmax(r.gap_size, 1.0) * 0.2;
      if (gap > threshold && !ends_with_space(line.text) && !starts_with_space(r.run->text)) line.text.push_back(' ');
      line.text += r.run->text;
      end = r.u1;
    }
    out.push_back(std::move(line));
  }
}

// Runs of spaces that start inside visible text drawn after them (by more
// than a word gap's tolerance, or in a gap narrower than that) are padding that later text covers (spreadsheet
// cells pad their text with spaces that run under the next cell): laid out
// by x they would land between that cell's letters. hidden_[k] is set for
// order[begin + k] (the line's first run is always kept). Placed indices
// follow content order, so "drawn after" is a larger index.
void GroupLayout::mark_hidden_blanks(const std::vector<size_t>& order, size_t begin, size_t end) {
  size_t n = end - begin;
  hidden_.assign(n, false);
  auto blank = [](const std::string& t) { return !t.empty() && t.find_first_not_of(' ') == std::string::npos; };
  bool any = false;
  for (size_t k = 1; k < n && !any; ++k) any = blank(placed_[order[begin + k]].run->text);
  if (!any) return;
  // The next visible run after position k, by u.
  next_visible_.assign(n + 1, SIZE_MAX);
  for (size_t k = n; k-- > 0;)
    next_visible_[k] = blank(placed_[order[begin + k]].run->text) ? next_visible_[k + 1] : order[begin + k];
  double reach = -INFINITY;  // the furthest end of visible text so far
  size_t reach_by = 0;       // and the run that reaches it
  for (size_t k = 0; k < n; ++k) {
    size_t index = order[begin + k];
    const Placed& r = placed_[index];
    if (!blank(r.run->text)) {
      if (r.u1 > reach) reach = r.u1, reach_by = index;
      continue;
    }
    double tolerance = std::fmax(r.gap_size, 1.0) * 0.2;
    size_t next = next_visible_[k + 1];
    bool under_earlier = reach - r.u0 > tolerance && reach_by > index;
    // Or it lies in a gap narrower than a word gap inside such text.
    bool inside_later = reach_by > index && next != SIZE_MAX && next > index && placed_[next].u0 - reach <= tolerance;
    hidden_[k] = k > 0 && (under_earlier || inside_later);
  }
}

void GroupLayout::run(const std::vector<TextRun>& runs, const std::vector<size_t>& members, Frame frame,
                      std::vector<Line>& out) {
  place(runs, members, frame);
  group_lines();
  sort_by_u();
  rehost_small_runs();
  split_columns();
  merge_raised_and_lowered();
  emit(frame, out);
}

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
  if (runs.empty()) return page;

  // Runs by direction, in degrees; groups by characters held, most first
  // (ties: the smaller angle first).
  std::vector<int> degrees(runs.size());
  std::vector<size_t> chars(360, 0);
  bool one_direction = true;
  for (size_t i = 0; i < runs.size(); ++i) {
    degrees[i] = degrees_of(runs[i]);
    chars[degrees[i]] += runs[i].text.size() + 1;
    one_direction = one_direction && degrees[i] == degrees[0];
  }
  GroupLayout layout(measure, tolerance);
  if (one_direction) {
    std::vector<size_t> members(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) members[i] = i;
    layout.run(runs, members, Frame::of_degrees(degrees[0]), page.lines);
    return page;
  }
  std::vector<int> groups;
  for (int d = 0; d < 360; ++d)
    if (chars[d] > 0) groups.push_back(d);
  std::stable_sort(groups.begin(), groups.end(), [&](int a, int b) { return chars[a] > chars[b]; });
  // The runs of each direction, in content order (a counting sort).
  std::vector<size_t> first(361, 0);
  for (int d : degrees) ++first[d + 1];
  for (size_t d = 0; d < 360; ++d) first[d + 1] += first[d];
  std::vector<size_t> by_direction(runs.size());
  {
    std::vector<size_t> fill(first.begin(), first.end() - 1);
    for (size_t i = 0; i < runs.size(); ++i) by_direction[fill[degrees[i]]++] = i;
  }
  std::vector<size_t> members;
  for (int d : groups) {
    members.assign(by_direction.begin() + first[d], by_direction.begin() + first[d + 1]);
    layout.run(runs, members, Frame::of_degrees(d), page.lines);
  }
  return page;
}

}  // namespace vellum
