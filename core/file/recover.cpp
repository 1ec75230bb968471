// Rebuilding the cross-reference data of a damaged file. The scan searches
// for the `obj` keyword with memmem and checks the few bytes before each hit
// for `N G` (a bounded look-back), so the pass is linear whatever the file
// holds, unlike a tokenizer restarted at every byte. Only the objects that
// can matter to opening the file are parsed afterwards, found by searching
// for their /Type names, and each parse is cut at the next object header,
// so the parsing is linear too.
#include "file/recover.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "file/resolver.h"
#include "syntax/cos.h"
#include "syntax/lex.h"

namespace vellum {

namespace {

using chars::is_delimiter;
using chars::is_digit;
using chars::is_whitespace;

// Look-back limits for `N G obj`: whitespace runs between the parts, and the
// digits of a 32-bit object number and of a generation.
constexpr size_t kMaxGap = 32;
constexpr size_t kMaxNumDigits = 10;
constexpr size_t kMaxGenDigits = 5;

struct Header {
  size_t pos;  // of the first digit
  uint32_t num;
  uint16_t gen;
};

// Calls on_hit(p) for each occurrence of `word` that is followed by a
// delimiter or the end and, when `whole` (and the word does not begin with a
// delimiter), is at the start or after a delimiter.
template <class F>
void for_each_token(ByteSpan data, std::string_view word, F on_hit, bool whole = true) {
  const uint8_t* base = data.data();
  const size_t n = data.size();
  const bool self_delimited = !whole || is_delimiter(static_cast<uint8_t>(word[0]));
  size_t i = 0;
  while (i + word.size() <= n) {
    const void* hit = memmem(base + i, n - i, word.data(), word.size());
    if (!hit) return;
    size_t p = static_cast<const uint8_t*>(hit) - base;
    i = p + 1;
    size_t after = p + word.size();
    if (after < n && !is_delimiter(base[after])) continue;
    if (!self_delimited && p > 0 && !is_delimiter(base[p - 1])) continue;
    on_hit(p);
  }
}

// The run of bytes satisfying `pred` that ends just before `end`, at most
// `max` long; returns its start (== end when empty). Stops at `max + 1` so
// the caller can reject runs that are too long.
template <class Pred>
size_t run_before(const uint8_t* base, size_t end, size_t max, Pred pred) {
  size_t p = end;
  while (p > 0 && end - p <= max && pred(base[p - 1])) --p;
  return p;
}

// The `N G` before an `obj` keyword at `obj`, if there is one.
std::optional<Header> header_before(ByteSpan data, size_t obj) {
  const uint8_t* base = data.data();
  size_t gap = run_before(base, obj, kMaxGap, is_whitespace);
  if (gap == obj || obj - gap > kMaxGap) return std::nullopt;
  size_t gen_start = run_before(base, gap, kMaxGenDigits, is_digit);
  if (gen_start == gap || gap - gen_start > kMaxGenDigits) return std::nullopt;
  size_t gap2 = run_before(base, gen_start, kMaxGap, is_whitespace);
  if (gap2 == gen_start || gen_start - gap2 > kMaxGap) return std::nullopt;
  size_t num_start = run_before(base, gap2, kMaxNumDigits, is_digit);
  if (num_start == gap2 || gap2 - num_start > kMaxNumDigits) return std::nullopt;
  if (num_start > 0 && !is_delimiter(base[num_start - 1])) return std::nullopt;
  auto text = [&](size_t a, size_t b) { return std::string_view(reinterpret_cast<const char*>(base + a), b - a); };
  std::optional<uint64_t> num = parse_unsigned(text(num_start, gap2), 0xFFFFFFFFull);
  std::optional<uint64_t> gen = parse_unsigned(text(gen_start, gap), 0xFFFFull);
  if (!num || !gen) return std::nullopt;
  return Header{num_start, static_cast<uint32_t>(*num), static_cast<uint16_t>(*gen)};
}

bool has_type(const Dictionary& dict, std::string_view type) {
  const std::string* name = dict.get_name("Type");
  return name && *name == type;
}

std::optional<size_t> owner_index(const std::vector<size_t>& starts, size_t pos) {
  auto next = std::upper_bound(starts.begin(), starts.end(), pos);
  if (next == starts.begin()) return std::nullopt;
  return static_cast<size_t>(next - starts.begin() - 1);
}

}  // namespace

std::vector<uint32_t> catalogs_in(const ObjStm& stm) {
  // Members by start offset, so each hit belongs to the last member before it.
  std::vector<std::pair<uint64_t, uint32_t>> members;
  members.reserve(stm.count());
  for (size_t i = 0; i < stm.count(); ++i) {
    uint64_t start = stm.first + stm.offsets[i];
    members.emplace_back(start < stm.first ? UINT64_MAX : start, stm.numbers[i]);  // overflow: past the end
  }
  std::sort(members.begin(), members.end());
  std::vector<size_t> starts;
  starts.reserve(members.size());
  for (const auto& m : members) starts.push_back(static_cast<size_t>(m.first));
  std::vector<uint32_t> found;
  for_each_token(ByteSpan(stm.data.data(), stm.data.size()), "/Catalog", [&](size_t p) {
    std::optional<size_t> k = owner_index(starts, p);
    if (k && (found.empty() || found.back() != members[*k].second)) found.push_back(members[*k].second);
  });
  return found;
}

ScannedFile scan_file(ByteSpan data) {
  ScannedFile out;
  std::vector<Header> headers;  // in file order
  for_each_token(data, "obj", [&](size_t p) {
    if (std::optional<Header> h = header_before(data, p)) headers.push_back(*h);
  });
  // Later definitions win: the last header of each number is its entry.
  // The final definition of each number: its last header. The map is then
  // filled in number order, each insertion at its end.
  std::unordered_map<uint32_t, size_t> last;  // number -> index into headers
  for (size_t k = 0; k < headers.size(); ++k) last[headers[k].num] = k;
  std::vector<std::pair<uint32_t, size_t>> finals(last.begin(), last.end());
  std::sort(finals.begin(), finals.end());
  for (const auto& [num, k] : finals)
    out.entries.emplace_hint(out.entries.end(), num, XrefEntry::in_file(headers[k].pos, headers[k].gen));

  // Where the object or trailer starting at `pos` must end: the next header.
  auto extent_end = [&](size_t pos) {
    auto next = std::upper_bound(headers.begin(), headers.end(), pos,
                                 [](size_t p, const Header& h) { return p < h.pos; });
    return next == headers.end() ? data.size() : next->pos;
  };
  // The header an occurrence at `pos` belongs to (the last one before it).
  auto owner = [&](size_t pos) -> std::optional<size_t> {
    auto next = std::upper_bound(headers.begin(), headers.end(), pos,
                                 [](size_t p, const Header& h) { return p < h.pos; });
    if (next == headers.begin()) return std::nullopt;
    return static_cast<size_t>(next - headers.begin() - 1);
  };

  // Objects named by a /Type worth knowing, each parsed once.
  std::vector<size_t> typed;  // indices into headers
  for (std::string_view type : {"/XRef", "/ObjStm", "/Catalog"})
    for_each_token(data, type, [&](size_t p) {
      if (std::optional<size_t> k = owner(p)) typed.push_back(*k);
    });
  std::sort(typed.begin(), typed.end());
  typed.erase(std::unique(typed.begin(), typed.end()), typed.end());

  struct Trailer {
    size_t pos;
    Dictionary dict;
  };
  std::vector<Trailer> trailers;
  for (size_t k : typed) {
    const Header& h = headers[k];
    Lexer lx(data.subspan(0, extent_end(h.pos)), h.pos);
    Result<ObjectHeader> parsed_header = read_header(lx);
    if (!parsed_header) continue;
    Result<Object> obj = parse_object(lx);
    if (!obj || !obj.value().is_dict()) continue;
    const Dictionary& dict = obj.value().as_dict();
    if (has_type(dict, "XRef")) {
      trailers.push_back({h.pos, dict});
    } else if (has_type(dict, "ObjStm")) {
      if (last[h.num] == k) out.object_streams.push_back(h.num);
    } else if (has_type(dict, "Catalog")) {
      if (last[h.num] == k) out.catalogs.push_back(h.num);
    }
  }
  // A trailer ends at the next object header or the next trailer. The
  // keyword may follow the debris of a damaged table directly.
  std::vector<size_t> keywords;
  for_each_token(data, "trailer", [&](size_t p) { keywords.push_back(p); }, false);
  for (size_t k = 0; k < keywords.size(); ++k) {
    size_t end = extent_end(keywords[k]);
    if (k + 1 < keywords.size() && keywords[k + 1] < end) end = keywords[k + 1];
    Lexer lx(data.subspan(0, end), keywords[k] + 7);
    Result<Object> obj = parse_object(lx);
    if (obj && obj.value().is_dict()) trailers.push_back({keywords[k], std::move(obj.value().as_dict_mut())});
  }
  std::stable_sort(trailers.begin(), trailers.end(), [](const Trailer& a, const Trailer& b) { return a.pos < b.pos; });
  out.trailers.reserve(trailers.size());
  for (Trailer& t : trailers) out.trailers.push_back(std::move(t.dict));
  return out;
}

}  // namespace vellum
