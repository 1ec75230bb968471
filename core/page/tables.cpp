// Ruled-table detection.
//
// A table is a grid the page paints, so rules come only from painting
// operators: the straight, axis-aligned segments of stroked paths, and filled
// rectangles at most 2 units thick (a rule drawn as a bar). A path ended by
// `n` (a clip) paints nothing, and a white fill (the page colour) neither.
// A thicker filled rectangle is a background: its four edges join a grid only
// in a component that also holds a real rule, so a shaded paragraph or a row
// of highlighted words is no table, while a shaded header row is part of one.
//
// Collinear rules that touch are merged; rules that touch or cross form
// connected components, one candidate table each, so the tables of a page
// stay apart. A component's distinct rule positions are its row and column
// boundaries, and a boundary separates two neighbouring cells only where a
// rule of it actually runs between them: cells it does not cross form one
// spanning cell, whose text is reported in its first row and column (the
// others it covers stay empty, keeping rows x cols rectangular).
//
// A run belongs to the cell holding a point just inside its first glyph; a
// run whose words stand in several columns is cut at its spaces first.
// A cell's runs are grouped into lines and joined exactly as the page's
// lines are (same order, same baseline tolerance, make_line's word-gap rule),
// so a word reads the same in a cell as in the page's text. A grid of fewer
// than 2 x 2 cells, or whose cells are mostly empty (a chart's gridlines, a
// figure frame), is no table.
//
// Cost: one pass over the operators, sorts of the rules and runs, and a
// sweep for crossings whose steps, like the placement of runs into tables,
// are counted against a per-page budget; a page beyond it reports no table.
#include "page/tables.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>

#include "page/gstack.h"
#include "page/layout.h"

namespace vellum {
namespace {

// Positions closer than this are one boundary; rules whose ends come within
// this of each other touch.
constexpr double kTolerance = 2.0;
// A segment is horizontal (vertical) when its ends differ by less than this
// in y (x), and counts as a rule only from this length on.
constexpr double kAxisSlack = 1.0;
constexpr double kMinRuleLength = 1.0;
// A filled rectangle at most this thick is a rule.
constexpr double kMaxRuleThickness = 2.0;
// A grid's cells are allocated up front; a grid beyond this is not reported.
constexpr uint64_t kMaxTableCells = uint64_t{1} << 20;
// Steps of the crossing sweep and of run placement on one page.
constexpr uint64_t kMaxPageWork = uint64_t{1} << 24;
// The chart and figure guard: more empty cells than this share, or than
// this count, and the grid is not a table.
constexpr double kMaxEmptyShare = 0.8;
constexpr size_t kMaxEmptyCells = 300;

struct Point {
  double x = 0;
  double y = 0;
};

Point apply(const Matrix& m, double x, double y) { return {m.a * x + m.c * y + m.e, m.b * x + m.d * y + m.f}; }

double number_at(std::span<const Object> operands, size_t i) {
  if (i >= operands.size()) return 0.0;
  return operands[i].number_value().value_or(0.0);
}

// A rule at `pos` (y of a horizontal rule, x of a vertical one) from lo to
// hi along the other axis. `soft`: an edge of a background fill.
struct Rule {
  double pos = 0;
  double lo = 0;
  double hi = 0;
  bool soft = false;
};

struct Rules {
  std::vector<Rule> horizontal;
  std::vector<Rule> vertical;
};

// Adds the segment s-e if it is an axis-aligned, finite rule.
void add_segment(Rules& rules, Point s, Point e, bool soft) {
  if (!std::isfinite(s.x) || !std::isfinite(s.y) || !std::isfinite(e.x) || !std::isfinite(e.y)) return;
  double dx = std::fabs(s.x - e.x), dy = std::fabs(s.y - e.y);
  if (dy < kAxisSlack && dx >= kMinRuleLength) {
    rules.horizontal.push_back({(s.y + e.y) / 2, std::fmin(s.x, e.x), std::fmax(s.x, e.x), soft});
  } else if (dx < kAxisSlack && dy >= kMinRuleLength) {
    rules.vertical.push_back({(s.x + e.x) / 2, std::fmin(s.y, e.y), std::fmax(s.y, e.y), soft});
  }
}

// The path under construction, in user space: its points, and for each
// subpath where its points start and whether a curve is part of it.
struct Path {
  std::vector<Point> points;
  std::vector<bool> straight_to;  // straight_to[i]: points[i-1] -> points[i] is a line
  struct Subpath {
    size_t first = 0;
    bool closed = false;
    bool curved = false;
  };
  std::vector<Subpath> subpaths;

  void clear() {
    points.clear();
    straight_to.clear();
    subpaths.clear();
  }
  void move_to(Point p) {
    subpaths.push_back({points.size(), false, false});
    points.push_back(p);
    straight_to.push_back(false);
  }
  void line_to(Point p, bool straight) {
    if (subpaths.empty()) return;  // no current point: nothing to draw from
    points.push_back(p);
    straight_to.push_back(straight);
    if (!straight) subpaths.back().curved = true;
  }
  void close() {
    if (!subpaths.empty()) subpaths.back().closed = true;
  }
};

// Strokes every straight segment of the path (a closed subpath with its
// closing segment).
void stroke(const Path& path, Rules& rules) {
  for (size_t s = 0; s < path.subpaths.size(); ++s) {
    size_t first = path.subpaths[s].first;
    size_t end = s + 1 < path.subpaths.size() ? path.subpaths[s + 1].first : path.points.size();
    for (size_t i = first + 1; i < end; ++i)
      if (path.straight_to[i]) add_segment(rules, path.points[i - 1], path.points[i], false);
    if (path.subpaths[s].closed && end - first > 2) add_segment(rules, path.points[end - 1], path.points[first], false);
  }
}

// Fills the path: each subpath that is an axis-aligned rectangle becomes a
// rule (thin) or a background (thick); any other shape paints no rule.
void fill(const Path& path, Rules& rules) {
  for (size_t s = 0; s < path.subpaths.size(); ++s) {
    if (path.subpaths[s].curved) continue;
    size_t first = path.subpaths[s].first;
    size_t end = s + 1 < path.subpaths.size() ? path.subpaths[s + 1].first : path.points.size();
    // A fill closes the subpath; count its sides of non-zero length, each
    // of which must be horizontal or vertical.
    size_t sides = 0;
    bool rectangular = true;
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (size_t i = first; i < end && rectangular; ++i) {
      Point a = path.points[i], b = path.points[i + 1 < end ? i + 1 : first];
      x0 = std::fmin(x0, a.x), x1 = std::fmax(x1, a.x), y0 = std::fmin(y0, a.y), y1 = std::fmax(y1, a.y);
      double dx = std::fabs(a.x - b.x), dy = std::fabs(a.y - b.y);
      if (!(dx < kAxisSlack) && !(dy < kAxisSlack)) rectangular = false;  // NaN: not rectangular either
      if (dx > 1e-9 || dy > 1e-9) ++sides;
    }
    if (!rectangular || sides != 4) continue;
    double w = x1 - x0, h = y1 - y0;
    if (h <= kMaxRuleThickness && w > kMaxRuleThickness) {
      add_segment(rules, {x0, (y0 + y1) / 2}, {x1, (y0 + y1) / 2}, false);
    } else if (w <= kMaxRuleThickness && h > kMaxRuleThickness) {
      add_segment(rules, {(x0 + x1) / 2, y0}, {(x0 + x1) / 2, y1}, false);
    } else if (w > kMaxRuleThickness && h > kMaxRuleThickness) {
      add_segment(rules, {x0, y0}, {x1, y0}, true);
      add_segment(rules, {x0, y1}, {x1, y1}, true);
      add_segment(rules, {x0, y0}, {x0, y1}, true);
      add_segment(rules, {x1, y0}, {x1, y1}, true);
    }
  }
}

// The fill colour as far as it matters here: whether it is white. A colour
// set by sc/scn is white when it is gray 1, RGB 1 1 1 or CMYK 0 0 0 0; a
// single component counts only in DeviceGray (a one-component resource space
// may be a separation, where 1 is full ink).
struct GraphicsState {
  Matrix ctm;
  bool white_fill = false;
  bool gray_space = true;
};

bool all_equal(std::span<const Object> args, size_t count, double value) {
  if (args.size() != count) return false;
  for (const Object& o : args) {
    std::optional<double> v = o.number_value();
    if (!v || std::fabs(*v - value) > 0.001) return false;
  }
  return true;
}

Rules collect_rules(const ContentOps& content) {
  Rules rules;
  GraphicsState gs;
  GraphicsStack<GraphicsState> saved;
  Path path;
  for (const Op& op : content.ops) {
    std::string_view name = op.op();
    std::span<const Object> args = content.operands_of(op);
    if (name.empty() || name.size() > 3) continue;
    auto at = [&](size_t i, size_t j) { return apply(gs.ctm, number_at(args, i), number_at(args, j)); };
    switch (name[0]) {
      case 'm':
        if (name == "m") path.move_to(at(0, 1));
        break;
      case 'l':
        if (name == "l") path.line_to(at(0, 1), true);
        break;
      case 'c':
        if (name == "c") {
          path.line_to(at(4, 5), false);
        } else if (name == "cm") {
          gs.ctm = matrix_of(args).then(gs.ctm);
        } else if (name == "cs") {
          const std::string* space = args.empty() ? nullptr : args[0].name_value();
          gs.gray_space = space != nullptr && *space == "DeviceGray";
          gs.white_fill = false;  // every space's initial colour is black or no ink
        }
        break;
      case 'v':
      case 'y':
        if (name.size() == 1) path.line_to(at(2, 3), false);
        break;
      case 'h':
        if (name == "h") path.close();
        break;
      case 'r':
        if (name == "re") {
          double x = number_at(args, 0), y = number_at(args, 1), w = number_at(args, 2), h = number_at(args, 3);
          path.move_to(at(0, 1));
          path.line_to(apply(gs.ctm, x + w, y), true);
          path.line_to(apply(gs.ctm, x + w, y + h), true);
          path.line_to(apply(gs.ctm, x, y + h), true);
          path.close();
        } else if (name == "rg") {
          gs.white_fill = all_equal(args, 3, 1.0);
          gs.gray_space = false;
        }
        break;
      case 'g':
        if (name == "g") {
          gs.white_fill = all_equal(args, 1, 1.0);
          gs.gray_space = true;
        }
        break;
      case 'k':
        if (name == "k") {
          gs.white_fill = all_equal(args, 4, 0.0);
          gs.gray_space = false;
        }
        break;
      case 's':
        if (name == "sc" || name == "scn") {
          gs.white_fill = (gs.gray_space && all_equal(args, 1, 1.0)) || all_equal(args, 3, 1.0) ||
                          all_equal(args, 4, 0.0);
        } else if (name == "s") {
          path.close();
          stroke(path, rules);
          path.clear();
        }
        break;
      case 'q':
        if (name == "q") saved.save(gs);
        break;
      case 'Q':
        if (name == "Q") saved.restore(gs);
        break;
      case 'S':
        if (name == "S") {
          stroke(path, rules);
          path.clear();
        }
        break;
      case 'f':
      case 'F':
        if (name == "f" || name == "F" || name == "f*") {
          if (!gs.white_fill) fill(path, rules);
          path.clear();
        }
        break;
      case 'B':
      case 'b':
        if (name == "B" || name == "B*" || name == "b" || name == "b*") {
          if (name[0] == 'b') path.close();
          if (!gs.white_fill) fill(path, rules);
          stroke(path, rules);
          path.clear();
        }
        break;
      case 'n':
        if (name == "n") path.clear();  // a clipping path, never painted
        break;
      default:
        break;
    }
  }
  return rules;
}

// Sorts rules by position, gives every rule within kTolerance of the first
// of its group that first one's position, and merges rules of one position
// that overlap or come within kTolerance of each other. The result is sorted
// by (pos, lo) with disjoint rules per position.
std::vector<Rule> merge(std::vector<Rule> rules) {
  std::sort(rules.begin(), rules.end(), [](const Rule& a, const Rule& b) { return a.pos < b.pos; });
  double group = 0;
  for (size_t i = 0; i < rules.size(); ++i) {
    if (i == 0 || rules[i].pos - group >= kTolerance) group = rules[i].pos;
    rules[i].pos = group;
  }
  std::sort(rules.begin(), rules.end(),
            [](const Rule& a, const Rule& b) { return a.pos != b.pos ? a.pos < b.pos : a.lo < b.lo; });
  std::vector<Rule> out;
  for (const Rule& r : rules) {
    if (!out.empty() && out.back().pos == r.pos && r.lo <= out.back().hi + kTolerance) {
      out.back().hi = std::fmax(out.back().hi, r.hi);
      out.back().soft = out.back().soft && r.soft;
      continue;
    }
    out.push_back(r);
  }
  return out;
}

// The painted rules merged, with the background edges that lie on one of
// them (a shaded cell bounded by the grid extends a rule drawn only in
// part): an edge elsewhere, say of a box inset in its cell, would invent a
// boundary no rule draws.
std::vector<Rule> with_backgrounds(std::vector<Rule> rules) {
  auto soft_end = std::partition(rules.begin(), rules.end(), [](const Rule& r) { return r.soft; });
  std::vector<Rule> edges(rules.begin(), soft_end);
  rules.erase(rules.begin(), soft_end);
  std::vector<Rule> merged = merge(std::move(rules));
  if (edges.empty() || merged.empty()) return merged;
  std::vector<Rule> on_rules;
  auto end = merged.end();
  for (Rule& e : edges) {
    // Positions within kTolerance of the edge: at most three, as merged
    // positions lie kTolerance apart; on each, the rules are sorted by lo
    // and disjoint, so the last one starting before the edge ends is the
    // only one that may overlap it.
    auto group = std::lower_bound(merged.begin(), end, e.pos - kTolerance,
                                  [](const Rule& r, double v) { return r.pos < v; });
    while (group != end && group->pos <= e.pos + kTolerance) {
      double pos = group->pos;
      auto group_end = std::upper_bound(group, end, pos, [](double v, const Rule& r) { return v < r.pos; });
      auto after = std::upper_bound(group, group_end, e.hi + kTolerance,
                                    [](double v, const Rule& r) { return v < r.lo; });
      if (after != group && std::prev(after)->hi + kTolerance >= e.lo) {
        e.pos = pos;
        on_rules.push_back(e);
        break;
      }
      group = group_end;
    }
  }
  if (on_rules.empty()) return merged;
  merged.insert(merged.end(), on_rules.begin(), on_rules.end());
  return merge(std::move(merged));
}

struct DisjointSets {
  std::vector<size_t> parent;
  explicit DisjointSets(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), size_t{0}); }
  size_t find(size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  }
  // The smaller root stays the root.
  void join(size_t a, size_t b) {
    a = find(a), b = find(b);
    if (a < b) parent[b] = a;
    if (b < a) parent[a] = b;
  }
};

// One candidate table: its boundaries and, per boundary, the rules on it.
struct Grid {
  std::vector<double> xs;  // column boundaries, ascending
  std::vector<double> ys;  // row boundaries, descending
  std::vector<std::vector<Rule>> on_x;  // vertical rules on xs[j], sorted by lo
  std::vector<std::vector<Rule>> on_y;  // horizontal rules on ys[i], sorted by lo
};

// Whether one of `rules` (sorted, disjoint) covers `at` (within kTolerance).
bool covers(const std::vector<Rule>& rules, double at) {
  auto it = std::upper_bound(rules.begin(), rules.end(), at, [](double v, const Rule& r) { return v < r.lo - kTolerance; });
  return it != rules.begin() && at <= std::prev(it)->hi + kTolerance;
}

// The (sorted, distinct) positions of `rules` and the rules on each.
void boundaries(const std::vector<Rule>& rules, std::vector<double>& at, std::vector<std::vector<Rule>>& on) {
  for (const Rule& r : rules) {
    if (at.empty() || at.back() != r.pos) {
      at.push_back(r.pos);
      on.emplace_back();
    }
    on.back().push_back(r);
  }
}

// Index i with bounds[i] <= v < bounds[i+1] for ascending bounds (or the
// mirror for descending ones), or SIZE_MAX outside.
size_t band_of(const std::vector<double>& bounds, double v, bool descending) {
  if (descending ? !(v <= bounds.front() && v > bounds.back()) : !(v >= bounds.front() && v < bounds.back()))
    return SIZE_MAX;
  auto it = descending ? std::upper_bound(bounds.begin(), bounds.end(), v, std::greater<double>())
                       : std::upper_bound(bounds.begin(), bounds.end(), v);
  return static_cast<size_t>(it - bounds.begin()) - 1;
}

// The text of one cell from its runs (in reading order): lines grouped
// against each line's first run as the page's layout does, each joined by
// make_line, the lines joined with single spaces.
std::string cell_text(const std::vector<const TextRun*>& runs) {
  auto size_of = [](const TextRun& r) { return std::fmin(r.size, r.effective_size); };
  std::string text;
  size_t start = 0;
  auto flush = [&](size_t end) {
    if (end == start) return;
    Line line = make_line(std::span<const TextRun* const>(runs.data() + start, end - start));
    size_t a = line.text.find_first_not_of(' ');
    if (a != std::string::npos) {
      size_t b = line.text.find_last_not_of(' ');
      if (!text.empty()) text.push_back(' ');
      text.append(line.text, a, b - a + 1);
    }
    start = end;
  };
  for (size_t i = 1; i < runs.size(); ++i) {
    const TextRun& f = *runs[start];
    const TextRun& r = *runs[i];
    double limit = std::fmax(std::fmax(size_of(f), size_of(r)) * 0.5, 1.0);
    if (std::fabs(f.y - r.y) > limit) flush(i);
  }
  flush(runs.size());
  return text;
}

// Where a run is placed: a point inside its first glyph, lifted off the
// baseline (which often sits on the cell's bottom rule).
Point anchor_of(const TextRun& r) {
  double size = std::isfinite(r.effective_size) ? r.effective_size : 0.0;
  double advance = r.end_x - r.x;
  double dx = std::isfinite(advance) && advance > 0 ? std::fmin(advance / 2, size * 0.25) : 0.0;
  return {r.x + dx, r.y + size * 0.25};
}

struct Candidate {
  Grid grid;
  std::vector<size_t> region;  // per elementary cell (row-major): its spanning cell's first cell
  std::vector<std::vector<const TextRun*>> runs;  // per elementary cell, for region roots only
};

}  // namespace

std::vector<Table> detect_tables(const ContentOps& content, const std::vector<TextRun>& runs, uint64_t* cell_budget) {
  Rules rules = collect_rules(content);
  std::vector<Rule> hs = with_backgrounds(std::move(rules.horizontal));
  std::vector<Rule> vs = with_backgrounds(std::move(rules.vertical));
  if (hs.size() < 3 || vs.size() < 3) return {};

  // Components: a vertical rule joins every horizontal one it touches. The
  // horizontal rules are sorted by y, so those near a vertical rule's span
  // are one contiguous range.
  uint64_t work = 0;
  DisjointSets sets(hs.size() + vs.size());
  for (size_t j = 0; j < vs.size(); ++j) {
    const Rule& v = vs[j];
    auto it = std::lower_bound(hs.begin(), hs.end(), v.lo - kTolerance,
                               [](const Rule& h, double y) { return h.pos < y; });
    for (; it != hs.end() && it->pos <= v.hi + kTolerance; ++it) {
      if (++work > kMaxPageWork) return {};
      if (it->lo - kTolerance <= v.pos && v.pos <= it->hi + kTolerance)
        sets.join(static_cast<size_t>(it - hs.begin()), hs.size() + j);
    }
  }

  // Each component's rules, in their sorted order, and whether it holds a
  // painted rule (not only background edges).
  std::vector<size_t> component_of(hs.size() + vs.size());
  std::vector<size_t> index_of_root(hs.size() + vs.size(), SIZE_MAX);
  struct Parts {
    std::vector<Rule> h, v;
    bool painted = false;
  };
  std::vector<Parts> parts;
  for (size_t i = 0; i < hs.size() + vs.size(); ++i) {
    size_t root = sets.find(i);
    if (index_of_root[root] == SIZE_MAX) {
      index_of_root[root] = parts.size();
      parts.emplace_back();
    }
    Parts& p = parts[index_of_root[root]];
    const Rule& r = i < hs.size() ? hs[i] : vs[i - hs.size()];
    (i < hs.size() ? p.h : p.v).push_back(r);
    p.painted = p.painted || !r.soft;
  }

  std::vector<Candidate> candidates;
  for (Parts& p : parts) {
    if (!p.painted || p.h.size() < 3 || p.v.size() < 3) continue;
    Candidate c;
    Grid& g = c.grid;
    boundaries(p.v, g.xs, g.on_x);
    boundaries(p.h, g.ys, g.on_y);
    std::reverse(g.ys.begin(), g.ys.end());
    std::reverse(g.on_y.begin(), g.on_y.end());
    if (g.xs.size() < 3 || g.ys.size() < 3) continue;
    size_t rows = g.ys.size() - 1, cols = g.xs.size() - 1;
    if (static_cast<uint64_t>(rows) * cols > kMaxTableCells) continue;
    // Neighbouring cells share a spanning cell where no rule runs between them.
    DisjointSets cells(rows * cols);
    for (size_t i = 0; i < rows; ++i) {
      double mid_y = (g.ys[i] + g.ys[i + 1]) / 2;
      for (size_t j = 0; j < cols; ++j) {
        double mid_x = (g.xs[j] + g.xs[j + 1]) / 2;
        if (j + 1 < cols && !covers(g.on_x[j + 1], mid_y)) cells.join(i * cols + j, i * cols + j + 1);
        if (i + 1 < rows && !covers(g.on_y[i + 1], mid_x)) cells.join(i * cols + j, (i + 1) * cols + j);
      }
    }
    c.region.resize(rows * cols);
    for (size_t k = 0; k < rows * cols; ++k) c.region[k] = cells.find(k);
    c.runs.resize(rows * cols);
    candidates.push_back(std::move(c));
  }
  if (candidates.empty()) return {};

  // Runs into cells: runs sorted by their anchor's y, each table takes those
  // within its rows. Only finite anchors are placed.
  std::vector<std::pair<Point, const TextRun*>> placed;
  placed.reserve(runs.size());
  for (const TextRun& r : runs) {
    Point a = anchor_of(r);
    if (std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(r.y)) placed.push_back({a, &r});
  }
  // Reading order (as the page's lines): y descending, then x ascending.
  std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
    if (a.second->y != b.second->y) return a.second->y > b.second->y;
    return a.second->x < b.second->x;
  });
  std::deque<TextRun> pieces;  // words of runs cut at cell boundaries (stable addresses)
  std::vector<std::pair<double, size_t>> by_anchor_y(placed.size());
  for (size_t k = 0; k < placed.size(); ++k) by_anchor_y[k] = {placed[k].first.y, k};
  std::sort(by_anchor_y.begin(), by_anchor_y.end());
  for (Candidate& c : candidates) {
    const Grid& g = c.grid;
    size_t cols = g.xs.size() - 1;
    auto it = std::upper_bound(by_anchor_y.begin(), by_anchor_y.end(), std::make_pair(g.ys.back(), SIZE_MAX));
    std::vector<size_t> inside;
    for (; it != by_anchor_y.end() && it->first <= g.ys.front(); ++it) {
      if (++work > kMaxPageWork) return {};
      inside.push_back(it->second);
    }
    std::sort(inside.begin(), inside.end());  // back to reading order
    for (size_t k : inside) {
      Point a = placed[k].first;
      const TextRun& r = *placed[k].second;
      size_t col = band_of(g.xs, a.x, false), row = band_of(g.ys, a.y, true);
      if (col == SIZE_MAX || row == SIZE_MAX) continue;
      // A run whose words stand in several columns (one string spaced
      // across the cells) is cut at its spaces, each word placed by its
      // share of the run's characters.
      size_t last = band_of(g.xs, r.end_x - kTolerance, false);
      if (last == col || last == SIZE_MAX || r.text.find(' ') == std::string::npos) {
        c.runs[c.region[row * cols + col]].push_back(&r);
        continue;
      }
      double per_byte = (r.end_x - r.x) / static_cast<double>(r.text.size());
      for (size_t begin = 0; begin < r.text.size();) {
        size_t end = std::min(r.text.find(' ', begin), r.text.size());
        if (end > begin) {
          TextRun& word = pieces.emplace_back(r);
          word.text.assign(r.text, begin, end - begin);
          word.x = r.x + per_byte * static_cast<double>(begin);
          word.end_x = r.x + per_byte * static_cast<double>(end);
          size_t at = band_of(g.xs, word.x + std::fmin((word.end_x - word.x) / 2, r.effective_size * 0.25), false);
          if (at != SIZE_MAX) c.runs[c.region[row * cols + at]].push_back(&word);
        }
        begin = end + 1;
      }
    }
  }

  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    if (a.grid.ys.front() != b.grid.ys.front()) return a.grid.ys.front() > b.grid.ys.front();
    return a.grid.xs.front() < b.grid.xs.front();
  });
  std::vector<Table> out;
  for (Candidate& c : candidates) {
    Table table;
    table.rows = c.grid.ys.size() - 1;
    table.cols = c.grid.xs.size() - 1;
    table.cells.assign(table.rows, std::vector<std::string>(table.cols));
    size_t regions = 0, empty = 0;
    for (size_t k = 0; k < c.region.size(); ++k) {
      if (c.region[k] != k) continue;
      ++regions;
      std::string& cell = table.cells[k / table.cols][k % table.cols];
      cell = cell_text(c.runs[k]);
      empty += cell.empty();
    }
    if (empty > kMaxEmptyCells || static_cast<double>(empty) > kMaxEmptyShare * static_cast<double>(regions)) continue;
    // Rules across a table with column rules only in its header row make
    // rows that no column boundary divides: not a grid.
    size_t undivided = 0;
    for (size_t i = 0; i < table.rows; ++i) {
      const size_t* row = c.region.data() + i * table.cols;
      undivided += std::all_of(row, row + table.cols, [&](size_t r) { return r == row[0]; });
    }
    if (2 * undivided > table.rows) continue;
    uint64_t size = table.rows * table.cols;
    if (cell_budget) {
      if (size > *cell_budget) continue;
      *cell_budget -= size;
    }
    out.push_back(std::move(table));
  }
  return out;
}

}  // namespace vellum
