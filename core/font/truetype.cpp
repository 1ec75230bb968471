// TrueType / OpenType font programs, read only as far as text needs: the
// table directory, maxp's glyph count, cmap (formats 0, 4, 6 and 12) and post
// (format 2 names). All reads go through BigEndian, so a truncated table or an
// offset past the end reads as zeros, never outside the program. Subtables
// are walked in ascending code order and a segment or group that does not
// start after the previous one is skipped, which bounds the walk by the code
// space (2^16 or 17 * 2^16 codes) whatever the declared counts.
#include "font/truetype.h"

#include <string_view>

#include "font/agl.h"
#include "font/binary.h"

namespace vellum {

namespace {

constexpr uint32_t kMaxGlyphs = 65536;
constexpr uint32_t kMaxCode = 0x10FFFF;

bool is_scalar(uint32_t v) { return v <= kMaxCode && (v < 0xD800 || v > 0xDFFF); }

uint32_t tag(const char (&name)[5]) {
  return (uint32_t(uint8_t(name[0])) << 24) | (uint32_t(uint8_t(name[1])) << 16) | (uint32_t(uint8_t(name[2])) << 8) |
         uint32_t(uint8_t(name[3]));
}

struct Table {
  uint64_t offset = 0, length = 0;
  bool found = false;
};

// Calls visit(code, glyph) for each mapped code in ascending order.
template <typename Visit>
void walk_subtable(const BigEndian& in, uint64_t at, Visit visit) {
  switch (in.u16(at)) {
    case 0:
      for (uint32_t code = 0; code < 256; ++code)
        if (in.has(at + 6 + code, 1)) visit(code, in.u8(at + 6 + code));
      break;
    case 4: {
      const uint32_t segments = in.u16(at + 6) / 2;
      const uint64_t ends = at + 14, starts = ends + 2 * uint64_t{segments} + 2;
      const uint64_t deltas = starts + 2 * uint64_t{segments}, range_offsets = deltas + 2 * uint64_t{segments};
      if (!in.has(range_offsets, 2 * uint64_t{segments})) return;  // a truncated segment list
      int64_t previous_end = -1;
      for (uint32_t s = 0; s < segments; ++s) {
        const uint32_t end = in.u16(ends + 2 * s), start = in.u16(starts + 2 * s);
        const uint32_t delta = in.u16(deltas + 2 * s), range = in.u16(range_offsets + 2 * s);
        if (static_cast<int64_t>(start) <= previous_end || start > end) continue;
        previous_end = end;
        for (uint32_t code = start; code <= end; ++code) {
          uint32_t glyph;
          if (range == 0) {
            glyph = (code + delta) & 0xFFFF;
          } else {
            uint64_t where = range_offsets + 2 * s + range + 2 * uint64_t{code - start};
            if (!in.has(where, 2)) break;
            glyph = in.u16(where);
            if (glyph != 0) glyph = (glyph + delta) & 0xFFFF;
          }
          if (glyph != 0) visit(code, glyph);
        }
      }
      break;
    }
    case 6: {
      const uint32_t first = in.u16(at + 6), count = in.u16(at + 8);
      for (uint32_t k = 0; k < count && in.has(at + 10 + 2 * k, 2) && first + k <= 0xFFFF; ++k)
        if (uint32_t glyph = in.u16(at + 10 + 2 * k)) visit(first + k, glyph);
      break;
    }
    case 12: {
      const uint64_t count = in.u32(at + 12);
      int64_t previous_end = -1;
      for (uint64_t g = 0; g < count && in.has(at + 16 + 12 * g, 12); ++g) {
        const uint64_t group = at + 16 + 12 * g;
        const uint32_t start = in.u32(group), end = in.u32(group + 4), glyph = in.u32(group + 8);
        if (static_cast<int64_t>(start) <= previous_end || start > end || end > kMaxCode) continue;
        previous_end = end;
        for (uint32_t code = start; code <= end && uint64_t{glyph} + (code - start) < kMaxGlyphs; ++code)
          visit(code, glyph + (code - start));
      }
      break;
    }
    default:
      break;
  }
}

void read_post_names(const BigEndian& in, const Table& post, std::vector<uint32_t>& glyph_unicode) {
  if (!post.found || in.u32(post.offset) != 0x00020000) return;
  const uint64_t end = post.offset + post.length;
  const uint32_t count = in.u16(post.offset + 32);
  const uint64_t indices = post.offset + 34;
  // The Pascal strings after the index array, in order.
  std::vector<std::string_view> names;
  for (uint64_t at = indices + 2 * uint64_t{count}; at < end && in.has(at, 1);) {
    const uint32_t length = in.u8(at);
    ByteSpan name = in.bytes(at + 1, length);
    if (name.size() != length) break;
    names.push_back(as_chars(name));
    at += 1 + length;
  }
  for (uint32_t gid = 0; gid < count && gid < glyph_unicode.size() && in.has(indices + 2 * gid, 2); ++gid) {
    if (glyph_unicode[gid] != 0) continue;
    const uint32_t index = in.u16(indices + 2 * gid);
    std::string_view name = index < 258 ? mac_glyph_name(index) : index - 258 < names.size() ? names[index - 258] : "";
    if (name.empty() || name == ".notdef") continue;
    if (std::optional<uint32_t> unicode = glyph_to_unicode(name)) glyph_unicode[gid] = *unicode;
  }
}

}  // namespace

Result<TrueTypeText> parse_truetype(ByteSpan data) {
  BigEndian in(data);
  uint64_t directory = 0;
  if (in.u32(0) == tag("ttcf")) directory = in.u32(12);
  const uint32_t version = in.u32(directory);
  if (version != 0x00010000 && version != tag("true") && version != tag("OTTO"))
    return Error{ErrorKind::InvalidObject, "not a TrueType font program"};
  const uint32_t table_count = in.u16(directory + 4);
  Table cmap, post, maxp;
  for (uint32_t k = 0; k < table_count && in.has(directory + 12 + 16 * uint64_t{k}, 16); ++k) {
    const uint64_t entry = directory + 12 + 16 * uint64_t{k};
    const Table table{in.u32(entry + 8), in.u32(entry + 12), true};
    const uint32_t name = in.u32(entry);
    if (name == tag("cmap")) cmap = table;
    if (name == tag("post")) post = table;
    if (name == tag("maxp")) maxp = table;
  }

  TrueTypeText text;
  const uint32_t glyphs = maxp.found && in.has(maxp.offset, 6) ? in.u16(maxp.offset + 4) : kMaxGlyphs;
  text.glyph_unicode.assign(glyphs, 0);
  if (cmap.found) {
    // The preferred Unicode subtable: (3,10), then (3,1), then any (0,x);
    // and the symbolic ones (3,0) and (1,0).
    int64_t unicode_at = -1, unicode_rank = 0, windows_symbol_at = -1, mac_roman_at = -1;
    const uint32_t subtables = in.u16(cmap.offset + 2);
    for (uint32_t k = 0; k < subtables && in.has(cmap.offset + 4 + 8 * uint64_t{k}, 8); ++k) {
      const uint64_t record = cmap.offset + 4 + 8 * uint64_t{k};
      const uint32_t platform = in.u16(record), encoding = in.u16(record + 2);
      const int64_t at = cmap.offset + in.u32(record + 4);
      const int rank = platform == 3 && encoding == 10 ? 3 : platform == 3 && encoding == 1 ? 2 : platform == 0 ? 1 : 0;
      if (rank > unicode_rank) unicode_at = at, unicode_rank = rank;
      if (platform == 3 && encoding == 0 && windows_symbol_at < 0) windows_symbol_at = at;
      if (platform == 1 && encoding == 0 && mac_roman_at < 0) mac_roman_at = at;
    }
    if (unicode_at >= 0) {
      text.has_unicode_cmap = true;
      walk_subtable(in, static_cast<uint64_t>(unicode_at), [&](uint32_t code, uint32_t glyph) {
        if (glyph < text.glyph_unicode.size() && text.glyph_unicode[glyph] == 0 && is_scalar(code))
          text.glyph_unicode[glyph] = code;
      });
    }
    if (windows_symbol_at >= 0) {
      // A code c of a simple font is looked up as c, else 0xF000 + c, 0xF100 + c, 0xF200 + c.
      std::array<std::array<uint16_t, 256>, 4> rows{};
      walk_subtable(in, static_cast<uint64_t>(windows_symbol_at), [&](uint32_t code, uint32_t glyph) {
        const uint32_t high = code >> 8;
        const int row = high == 0 ? 0 : high >= 0xF0 && high <= 0xF2 ? static_cast<int>(high - 0xEF) : -1;
        if (row >= 0) rows[static_cast<size_t>(row)][code & 0xFF] = static_cast<uint16_t>(glyph);
      });
      text.symbolic_glyphs.assign(256, 0);
      for (size_t c = 0; c < 256; ++c)
        for (const auto& row : rows)
          if (text.symbolic_glyphs[c] == 0) text.symbolic_glyphs[c] = row[c];
    } else if (mac_roman_at >= 0) {
      text.symbolic_glyphs.assign(256, 0);
      walk_subtable(in, static_cast<uint64_t>(mac_roman_at), [&](uint32_t code, uint32_t glyph) {
        if (code < 256) text.symbolic_glyphs[code] = static_cast<uint16_t>(glyph);
      });
    }
  }
  read_post_names(in, post, text.glyph_unicode);
  return text;
}

}  // namespace vellum
