// ToUnicode CMap reader. Only the bfchar, bfrange and codespacerange sections
// are read; every other token of the CMap program (the PostScript prelude,
// /CIDSystemInfo, usecmap, cidrange sections) is read as an object or a
// keyword and dropped. Nothing here fails: unreadable entries are skipped,
// and every step consumes input, so parsing is linear in the data.
//
// Ranges keep their file order (the first covering range wins). For lookups,
// parse() also cuts the code space into disjoint segments, each resolved to
// its winning range once, so a code costs one binary search.
#include "font/cmap.h"

#include <algorithm>
#include <functional>
#include <queue>

#include "font/agl.h"
#include "syntax/cos.h"
#include "syntax/lex.h"

namespace vellum {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

bool is_scalar(uint64_t v) { return v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF); }
bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The big-endian value of a source string's first four bytes (0 when empty).
uint32_t code_of(const std::string& bytes) {
  uint32_t code = 0;
  size_t n = std::min<size_t>(bytes.size(), 4);
  for (size_t i = 0; i < n; ++i) code = (code << 8) | static_cast<uint8_t>(bytes[i]);
  return code;
}

// Walks UTF-16BE units; a lone last byte is a unit of its own.
class Utf16Reader {
 public:
  explicit Utf16Reader(ByteSpan bytes) : b_(bytes) {}
  bool done() const { return pos_ >= b_.size(); }
  // The next character; unpaired surrogates give U+FFFD. Call only when !done().
  uint32_t next() {
    uint32_t unit = read_unit();
    if (is_low_surrogate(unit)) return kReplacement;
    if (!is_high_surrogate(unit)) return unit;
    if (done()) return kReplacement;
    size_t saved = pos_;
    uint32_t low = read_unit();
    if (!is_low_surrogate(low)) {
      pos_ = saved;  // the unit after an unpaired high surrogate is decoded afresh
      return kReplacement;
    }
    return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
  }

 private:
  uint32_t read_unit() {
    if (pos_ + 1 >= b_.size()) return b_[pos_++];
    uint32_t unit = (uint32_t{b_[pos_]} << 8) | b_[pos_ + 1];
    pos_ += 2;
    return unit;
  }
  ByteSpan b_;
  size_t pos_ = 0;
};

// Section entries start at '<' (so reading one always consumes input); any
// other byte ends the section, after the keyword standing there if any.
bool at_section_end(Lexer& lx) {
  lx.skip_ws();
  if (lx.at_end()) return true;
  if (lx.peek() == '<') return false;
  (void)lx.read_keyword();  // normally the closing keyword; not compared
  return true;
}

void read_codespace(Lexer& lx, CMap&) {
  while (!at_section_end(lx)) {
    (void)parse_object(lx);
    lx.skip_ws();
    (void)parse_object(lx);
  }
}

// A mapping's text: the PDF standard allows destination strings of at most
// 512 bytes, and only that much is kept. Without the cap one short code could
// stand for arbitrarily long text, and a string showing it over and over
// would expand quadratically in the size of the file.
constexpr size_t kMaxDestinationBytes = 512;

// Writes a character of a mapping's text. The Latin ligatures U+FB00..U+FB06
// are written as their letters, so that search indexes and tokenizers see
// whole words ("ﬁnd" reads as "find").
void append_text_char(std::string& out, uint32_t cp) {
  std::string_view letters = ligature_letters(cp);
  if (letters.empty()) {
    append_utf8(out, cp);
  } else {
    out.append(letters);
  }
}

std::string destination_text(const std::string& dst) {
  ByteSpan bytes = as_bytes(dst).first(std::min(dst.size(), kMaxDestinationBytes));
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  Utf16Reader reader(bytes);
  while (!reader.done()) append_text_char(out, reader.next());
  return out;
}

void read_bfchar(Lexer& lx, CMap& cmap) {
  while (!at_section_end(lx)) {
    Result<Object> src = parse_object(lx);
    lx.skip_ws();
    Result<Object> dst = parse_object(lx);
    if (!src || !dst || !src->is_string() || !dst->is_string()) continue;
    cmap.singles.insert_or_assign(code_of(src->as_string()), destination_text(dst->as_string()));
  }
}

void read_bfrange(Lexer& lx, CMap& cmap) {
  while (!at_section_end(lx)) {
    Result<Object> low = parse_object(lx);
    lx.skip_ws();
    Result<Object> high = parse_object(lx);
    bool low_ok = low && low->is_string();
    bool high_ok = high && high->is_string();
    lx.skip_ws();
    bool array_dest = !lx.at_end() && lx.peek() == '[';
    Result<Object> dst = parse_object(lx);
    if (!low_ok || !dst) continue;
    uint32_t first = code_of(low->as_string());
    if (array_dest) {
      if (!dst->is_array()) continue;
      // One element per code from the low bound on, whatever the high bound says.
      uint32_t code = first;
      for (const Object& item : dst->as_array()) {
        if (item.is_string()) cmap.singles.insert_or_assign(code, destination_text(item.as_string()));
        ++code;  // wraps modulo 2^32
      }
      continue;
    }
    if (!high_ok || !dst->is_string()) continue;
    // Only the destination's first character counts; empty text starts at U+0000.
    Utf16Reader reader(as_bytes(dst->as_string()));
    uint32_t start = reader.done() ? 0 : reader.next();
    cmap.ranges.push_back({first, code_of(high->as_string()), start});
  }
}

}  // namespace

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string utf16_be(ByteSpan bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  Utf16Reader reader(bytes);
  while (!reader.done()) append_utf8(out, reader.next());
  return out;
}

CMap CMap::parse(ByteSpan data) {
  CMap cmap;
  Lexer lx(data);
  while (true) {
    lx.skip_ws();
    if (lx.at_end()) break;
    uint8_t c = lx.peek();
    if (c == '(' || c == '+' || c == '-' || c == '.' || c == '/' || c == '<' || c == '[' || chars::is_digit(c)) {
      // Every one of these start bytes is consumed by the parser, error or not;
      // the guard only keeps the loop finite should that ever change.
      size_t before = lx.pos();
      (void)parse_object(lx);
      if (lx.pos() == before) lx.advance();
      continue;
    }
    std::string_view keyword = lx.read_keyword();
    if (keyword.empty()) {
      lx.advance();  // a stray ) > ] { }
      continue;
    }
    if (keyword == "beginbfchar") {
      read_bfchar(lx, cmap);
    } else if (keyword == "beginbfrange") {
      read_bfrange(lx, cmap);
    } else if (keyword == "begincodespacerange") {
      read_codespace(lx, cmap);
    }
  }
  cmap.build_index();
  return cmap;
}

// Sweep over the segment boundaries with a min-heap of the ranges open at
// each boundary, ordered by file position (stale entries are dropped lazily
// when they reach the top). Each range is first cut to the codes whose value
// is a Unicode scalar value, so the surrogate block and values beyond U+10FFFF
// fall through to later ranges exactly as a file-order walk would.
void CMap::build_index() {
  struct Piece {
    uint32_t low, high, range;
  };
  std::vector<Piece> pieces;
  pieces.reserve(ranges.size() * 2);
  static constexpr std::pair<uint64_t, uint64_t> kScalarBlocks[] = {{0, 0xD7FF}, {0xE000, 0x10FFFF}};
  for (uint32_t i = 0; i < ranges.size(); ++i) {
    const Range& r = ranges[i];
    if (r.low > r.high) continue;  // never matches
    uint64_t first_value = r.start;
    uint64_t last_value = first_value + (r.high - r.low);
    for (auto [block_low, block_high] : kScalarBlocks) {
      uint64_t a = std::max(block_low, first_value);
      uint64_t b = std::min(block_high, last_value);
      if (a > b) continue;
      pieces.push_back({static_cast<uint32_t>(r.low + (a - first_value)), static_cast<uint32_t>(r.low + (b - first_value)), i});
    }
  }
  segments_.clear();
  indexed_ranges_ = ranges.size();
  if (pieces.empty()) return;

  std::vector<uint64_t> bounds;
  bounds.reserve(pieces.size() * 2);
  for (const Piece& p : pieces) {
    bounds.push_back(p.low);
    bounds.push_back(uint64_t{p.high} + 1);
  }
  std::sort(bounds.begin(), bounds.end());
  bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.low < b.low; });

  using Open = std::pair<uint32_t, uint32_t>;  // (range index, high)
  std::priority_queue<Open, std::vector<Open>, std::greater<Open>> open;
  size_t next = 0;
  for (size_t k = 0; k + 1 < bounds.size(); ++k) {
    uint64_t at = bounds[k];
    while (next < pieces.size() && pieces[next].low <= at) {
      open.push({pieces[next].range, pieces[next].high});
      ++next;
    }
    while (!open.empty() && open.top().second < at) open.pop();
    if (open.empty()) continue;
    uint32_t low = static_cast<uint32_t>(at);
    uint32_t high = static_cast<uint32_t>(bounds[k + 1] - 1);
    uint32_t winner = open.top().first;
    if (!segments_.empty() && segments_.back().range == winner && uint64_t{segments_.back().high} + 1 == low) {
      segments_.back().high = high;
      continue;
    }
    segments_.push_back({low, high, winner});
  }
}

bool CMap::lookup_into(uint32_t code, std::string& out) const {
  if (auto it = singles.find(code); it != singles.end()) {
    out += it->second;
    return true;
  }
  if (indexed_ranges_ != ranges.size()) {
    // Ranges added by hand after parse(): the plain file-order walk.
    for (const Range& r : ranges) {
      if (code < r.low || code > r.high) continue;
      uint64_t value = uint64_t{r.start} + (code - r.low);
      if (!is_scalar(value)) continue;
      append_text_char(out, static_cast<uint32_t>(value));
      return true;
    }
    return false;
  }
  auto it = std::upper_bound(segments_.begin(), segments_.end(), code,
                             [](uint32_t c, const Segment& s) { return c < s.low; });
  if (it == segments_.begin()) return false;
  --it;
  if (code > it->high) return false;
  const Range& r = ranges[it->range];
  append_text_char(out, r.start + (code - r.low));
  return true;
}

std::optional<std::string> CMap::lookup(uint32_t code) const {
  std::string text;
  if (!lookup_into(code, text)) return std::nullopt;
  return text;
}

}  // namespace vellum
