// Fonts of a page: ToUnicode map, simple encoding, widths; decoding of shown
// strings into text and advance.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "font/cff.h"
#include "font/cjk.h"
#include "font/cmap.h"
#include "font/truetype.h"
#include "syntax/object.h"
#include "file/resolver.h"

namespace vellum {

// Glyph widths (already divided by 1000) over the 32-bit code space, kept as
// disjoint code intervals: a /W range over 2^32 codes is one interval, in
// constant space. A later insert overrides earlier widths for exactly the
// codes it covers. Inserts and lookups are O(log n) (amortised for inserts).
// Copies share their spans until one of them is changed, so fonts built from
// one shared /W array hold one copy of it between them.
class WidthMap {
 public:
  void insert(uint32_t code, double width) { insert_range(code, code, width); }
  void insert_range(uint32_t first, uint32_t last, double width);  // no-op when first > last
  std::optional<double> find(uint32_t code) const;
  // find(code) or `fallback`; the one-byte case is inlined.
  double width_or(uint32_t code, double fallback) const {
    if (data_ && data_->indexed && code < 256) {
      double w = data_->low[code];
      return w == w ? w : fallback;  // NaN marks absence
    }
    std::optional<double> w = find(code);
    return w ? *w : fallback;
  }
  bool empty() const { return !data_ || (data_->indexed ? data_->flat.empty() : data_->spans.empty()); }
  // Lookups on the hot path (one per shown glyph) read a flat copy of the
  // spans and a direct table for one-byte codes; any insert drops it.
  void build_index();

 private:
  struct Span {
    uint32_t last;  // inclusive
    double width;
  };
  struct Data {
    std::map<uint32_t, Span> spans;  // keyed by first code; moved into `flat` while indexed
    bool indexed = false;
    std::vector<std::pair<uint32_t, Span>> flat;  // the spans in order, while indexed
    std::array<double, 256> low{};                // NaN where a one-byte code has no width
  };
  Data& mutable_data();  // this map's own Data, copied first if shared
  std::shared_ptr<Data> data_;
};

// The text of a composite font's CIDs when it has no ToUnicode map: the
// character collection the CIDs belong to, else the embedded program's own
// glyph -> Unicode map (TrueType through /CIDToGIDMap; a name-keyed CFF,
// whose glyph ids are the CIDs).
struct CidText {
  Collection collection = Collection::None;
  std::shared_ptr<const TrueTypeText> truetype;
  std::shared_ptr<const std::vector<uint16_t>> cid_to_gid;  // null: the identity
  std::shared_ptr<const CffText> cff;

  uint32_t unicode(uint32_t cid) const;  // 0 when none
};

struct Font {
  std::shared_ptr<const CMap> to_unicode;  // null when absent
  WidthMap widths;                         // simple fonts by code, composite fonts by CID
  std::array<uint32_t, 256> encoding{};  // 0 = unmapped; all 0 for Type0 fonts
  double default_width = 0.5;
  bool two_byte = false;  // Type0: codes split by `code_map` (two bytes when null)
  // Type0: the predefined CMap its /Encoding names; null for Identity and
  // for an embedded CMap stream (read as two-byte codes, CID = code).
  const PredefinedCMap* code_map = nullptr;
  std::shared_ptr<const CidText> cid_text;  // Type0: text where ToUnicode has none

  // Appends the text of `s` to `out`; returns the total advance (unscaled
  // text space): the sum over codes of th * (tfs * width + tc + word spacing),
  // word spacing being tw for code 32 of a simple font only.
  double show_into(ByteSpan s, std::string& out, double tc, double tw, double tfs, double th) const;
  // Appends the text of one code: its ToUnicode mapping, else (simple fonts)
  // its encoding's character, else (Type0) the character of a Unicode CMap's
  // code or of its CID; nothing when none gives one. Latin ligatures
  // U+FB00..U+FB06 are written as their letters. `length` is the code's byte
  // length (it tells a UTF-16 surrogate pair from a two-byte code).
  void append_code_text(uint32_t code, std::string& out, size_t length = 2) const;
  // The CID a Type0 code selects (the code itself for simple fonts).
  uint32_t cid_of(uint32_t code, size_t length) const { return code_map ? code_map->cid(code, length) : code; }
  // Call once the fields above are final (load_font does): indexes the widths
  // and, for a one-byte font, records each code's text, so that showing a
  // string reads one table entry per byte instead of looking the code up.
  // show_into gives the same result with or without it.
  void prepare();

 private:
  struct GlyphText {
    char bytes[15];
    uint8_t size;  // kLongGlyph: longer than `bytes`, looked up when shown
  };
  static constexpr uint8_t kLongGlyph = 0xFF;
  bool glyphs_ready_ = false;
  std::array<GlyphText, 256> glyphs_{};
  std::array<double, 256> glyph_widths_{};  // widths.width_or(code, default_width)
};

using FontMap = std::unordered_map<std::string, std::shared_ptr<const Font>>;

// One embedded font program (FontFile, FontFile2 or FontFile3), parsed for text.
struct FontProgram {
  std::shared_ptr<const TrueTypeText> truetype;
  std::shared_ptr<const CffText> cff;
  std::optional<std::array<uint32_t, 256>> type1_encoding;  // code -> Unicode
};

// What font loading shares across the pages of one document, so that no
// object is parsed more than once however many pages or fonts use it: fonts
// by the font dictionary's object number (loading the same font object gives
// the same result), the parts several fonts may share (ToUnicode CMaps,
// /Encoding dictionaries, /W arrays, embedded font programs) by object
// number, and whole font maps by
// the address of the /Font dictionary they came from (pages that share
// resources share it, and it lives in the resolver's cache).
struct FontCache {
  std::unordered_map<uint32_t, std::shared_ptr<const Font>> by_object;
  std::unordered_map<uint32_t, std::shared_ptr<const FontProgram>> programs;  // by stream object number
  std::unordered_map<uint32_t, std::shared_ptr<const CMap>> to_unicode;
  std::unordered_map<uint32_t, std::array<uint32_t, 256>> encodings;
  std::unordered_map<uint32_t, WidthMap> cid_widths;
  std::unordered_map<const Dictionary*, std::shared_ptr<const FontMap>> by_font_dict;
  std::unordered_map<const Dictionary*, std::shared_ptr<const FontMap>> by_resources;
};

// The page's /Font resources by resource name; entries that do not resolve
// to a dictionary are left out. Never fails.
FontMap load_fonts(const Resolver& resolver, const Dictionary& resources, FontCache* cache = nullptr);
// load_fonts through the cache's font maps: one map per /Font dictionary,
// found without a lookup in `resources` when the same resources come again.
// Both dictionaries are remembered by address, so `resources` must live as
// long as the cache (as a page's resources in the resolver's cache do).
std::shared_ptr<const FontMap> page_fonts(const Resolver& resolver, const Dictionary& resources, FontCache& cache);
// Never fails: missing or malformed entries fall back to their defaults.
Font load_font(const Resolver& resolver, const Dictionary& font_dict, FontCache* cache = nullptr);
// The 256-entry table of a simple font: base table chosen by /Encoding, then
// its /Differences.
std::array<uint32_t, 256> simple_encoding(const Resolver& resolver, const Dictionary& font_dict,
                                          FontCache* cache = nullptr);
// The array under `key` (direct, or one Reference away), or nullptr. The
// pointer lives as long as `dict` or the resolver's cache.
const std::vector<Object>* resolve_array(const Resolver& resolver, const Dictionary& dict, std::string_view key);
// Stores value / 1000 for the code when the value is a finite number and the
// code lies in 0..2^32-1; anything else is ignored.
void insert_width(WidthMap& widths, int64_t code, const Object& value);

}  // namespace vellum
