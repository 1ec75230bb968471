// Font loading: a page's /Font resources become Font records holding just
// what text extraction needs (ToUnicode map, one-byte encoding table, widths,
// code length). Loading never fails; every malformed entry falls back to its
// default. Fonts referenced indirectly can be shared across the pages of a
// document through FontCache, so a font object is parsed once.
#include "font/font.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "font/agl.h"
#include "font/type1.h"
#include "filter/filter.h"

namespace vellum {

namespace {

constexpr int64_t kMaxCode = 0xFFFFFFFF;

bool is_scalar(uint32_t v) { return v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF); }

// A width in text-space units, from a number in glyph-space thousandths.
// The parser reads "-inf" and "nan" as Reals; such a width would turn every
// later position on the page into infinity or NaN, so it counts as absent.
std::optional<double> width_of(const Object& value) {
  if (!value.is_number()) return std::nullopt;
  double width = value.as_number() / 1000.0;
  if (!std::isfinite(width)) return std::nullopt;
  return width;
}

// The cached value under `entry`'s object number, or make(); a direct entry
// is not cached (it belongs to one dictionary, which is read once).
template <typename Value, typename Make>
Value cached_by_object(std::unordered_map<uint32_t, Value>* cache, const Object& entry, Make make) {
  if (!cache || !entry.is_ref()) return make();
  const uint32_t num = entry.as_ref().num;
  if (auto hit = cache->find(num); hit != cache->end()) return hit->second;
  Value value = make();
  cache->emplace(num, value);
  return value;
}

std::shared_ptr<const CMap> load_to_unicode(const Resolver& resolver, const Dictionary& font_dict, FontCache* cache) {
  const Object* entry = font_dict.get("ToUnicode");
  if (!entry) return nullptr;
  return cached_by_object(cache ? &cache->to_unicode : nullptr, *entry, [&]() -> std::shared_ptr<const CMap> {
    const Object* value = resolver.deref(*entry);
    if (!value || !value->is_stream()) return nullptr;  // /Identity-H and the like
    const Stream& stream = value->as_stream();
    Result<Bytes> decoded = decode_stream(stream.dict, stream.data());
    if (!decoded) return nullptr;
    return std::make_shared<const CMap>(CMap::parse(*decoded));
  });
}

// A /ToUnicode that names /Identity-H or /Identity-V instead of giving a CMap
// stream: writers put it in Type0 fonts whose codes are Unicode (UCS-2), and
// peers read it so. Simple fonts ignore it (their encoding says more).
bool identity_to_unicode(const Resolver& resolver, const Dictionary& font_dict) {
  const Object* entry = font_dict.get("ToUnicode");
  const Object* value = entry ? resolver.deref(*entry) : nullptr;
  return value && value->is_name() && (value->as_name() == "Identity-H" || value->as_name() == "Identity-V");
}

// Every two-byte code to the same UTF-16 unit; surrogate codes stay unmapped.
std::shared_ptr<const CMap> identity_cmap() {
  static const std::shared_ptr<const CMap> identity = [] {
    auto cmap = std::make_shared<CMap>();
    cmap->ranges.push_back({0, 0xFFFF, 0});
    return cmap;
  }();
  return identity;
}

// /Differences: integers set the current code (negative ones mean 0), names
// fill it and advance it, anything else is ignored without advancing.
void apply_differences(std::array<uint32_t, 256>& table, const Dictionary& encoding_dict) {
  const std::vector<Object>* diffs = encoding_dict.get_array("Differences");
  if (!diffs) return;
  int64_t code = 0;
  for (const Object& item : *diffs) {
    if (item.is_int()) {
      code = item.as_int() < 0 ? 0 : item.as_int();
      continue;
    }
    if (!item.is_name()) continue;
    std::optional<uint32_t> unicode = glyph_to_unicode(item.as_name());
    if (unicode && code < 256) table[static_cast<size_t>(code)] = *unicode;
    if (code < 256) ++code;  // every code from 256 on is out of range alike
  }
}

WidthMap cid_widths(const std::vector<Object>& items) {
  WidthMap widths;
  // Two forms: `first [w1 w2 ...]` and `first last w`.
  for (size_t i = 0; i < items.size();) {
    if (!items[i].is_int() || i + 1 >= items.size()) break;
    int64_t first = items[i].as_int();
    const Object& second = items[i + 1];
    if (const std::vector<Object>* list = second.array_value()) {
      for (size_t j = 0; j < list->size() && first <= kMaxCode - static_cast<int64_t>(j); ++j)
        insert_width(widths, first + static_cast<int64_t>(j), (*list)[j]);
      i += 2;
      continue;
    }
    std::optional<double> width = i + 2 < items.size() ? width_of(items[i + 2]) : std::nullopt;
    if (width && second.is_int() && first <= second.as_int()) {
      // Only codes in 0..2^32-1 can be stored; the rest of the range is dropped.
      int64_t low = std::max<int64_t>(first, 0);
      int64_t high = std::min<int64_t>(second.as_int(), kMaxCode);
      if (low <= high) widths.insert_range(static_cast<uint32_t>(low), static_cast<uint32_t>(high), *width);
    }
    i += 3;  // a malformed triple is skipped whole
  }
  widths.build_index();
  return widths;
}

void load_type0_widths(const Resolver& resolver, const Dictionary& font_dict, Font& font, FontCache* cache) {
  font.default_width = 1.0;
  const std::vector<Object>* descendants = resolve_array(resolver, font_dict, "DescendantFonts");
  if (!descendants || descendants->empty()) return;
  Result<const Dictionary*> cid_font = resolver.resolve_dict(descendants->front());
  if (!cid_font) return;
  const Dictionary& desc = **cid_font;
  if (const Object* dw = desc.get("DW")) font.default_width = width_of(*dw).value_or(1.0);

  const Object* w_entry = desc.get("W");
  if (!w_entry) return;
  font.widths = cached_by_object(cache ? &cache->cid_widths : nullptr, *w_entry, [&] {
    const Object* w = resolver.deref(*w_entry);
    const std::vector<Object>* items = w ? w->array_value() : nullptr;
    return items ? cid_widths(*items) : WidthMap();
  });
}

// Only codes 0..255 can be shown with a one-byte font, so only their entries
// are read: a /Widths array shared by many fonts costs each at most 256.
void load_simple_widths(const Resolver& resolver, const Dictionary& font_dict, Font& font) {
  const Object* first_char = font_dict.get("FirstChar");
  int64_t first = first_char && first_char->is_int() ? first_char->as_int() : 0;
  const std::vector<Object>* widths = resolve_array(resolver, font_dict, "Widths");
  if (!widths || first > 255) return;
  const int64_t size = static_cast<int64_t>(widths->size());
  const int64_t begin = first >= 0 ? 0 : first < -size ? size : -first;
  const int64_t end = std::min(size, 256 - first);
  for (int64_t k = begin; k < end; ++k) insert_width(font.widths, first + k, (*widths)[static_cast<size_t>(k)]);
}

}  // namespace

// ------------------------------------------------------------------ WidthMap

WidthMap::Data& WidthMap::mutable_data() {
  if (!data_) {
    data_ = std::make_shared<Data>();
  } else if (data_.use_count() > 1) {
    data_ = std::make_shared<Data>(*data_);
  }
  return *data_;
}

void WidthMap::insert_range(uint32_t first, uint32_t last, double width) {
  if (first > last) return;
  Data& data = mutable_data();
  if (data.indexed) {
    // The index holds the spans alone (see build_index); the tree comes back.
    data.spans.insert(data.flat.begin(), data.flat.end());
    data.flat.clear();
    data.flat.shrink_to_fit();
    data.indexed = false;
  }
  std::map<uint32_t, Span>& spans = data.spans;
  auto it = spans.lower_bound(first);
  // A span starting before `first` that reaches into the new range keeps its
  // head, and its tail too when it reaches past `last`.
  if (it != spans.begin()) {
    auto prev = std::prev(it);
    Span old = prev->second;
    if (old.last >= first) {
      prev->second.last = first - 1;  // first > prev's key >= 0
      if (old.last > last) it = spans.emplace_hint(it, last + 1, old);
    }
  }
  // Spans starting inside the new range are replaced; the last may keep a tail.
  while (it != spans.end() && it->first <= last) {
    Span old = it->second;
    it = spans.erase(it);
    if (old.last > last) {
      it = spans.emplace_hint(it, last + 1, old);
      break;
    }
  }
  spans.emplace_hint(it, first, Span{last, width});
}

void WidthMap::build_index() {
  if (data_ && data_->indexed) return;  // copies share the index too
  Data& data = mutable_data();
  data.flat.assign(data.spans.begin(), data.spans.end());
  // Lookups read only the index; the tree (a node per span) is given up
  // until the next insert, which halves what a loaded font keeps.
  data.spans.clear();
  data.low.fill(std::numeric_limits<double>::quiet_NaN());
  for (const auto& [first, span] : data.flat) {
    if (first > 255) break;
    uint32_t end = span.last > 255 ? 255 : span.last;
    for (uint32_t c = first; c <= end; ++c) data.low[c] = span.width;
  }
  data.indexed = true;
}

std::optional<double> WidthMap::find(uint32_t code) const {
  if (!data_) return std::nullopt;
  const std::vector<std::pair<uint32_t, Span>>& flat = data_->flat;
  const std::array<double, 256>& low = data_->low;
  const std::map<uint32_t, Span>& spans = data_->spans;
  if (data_->indexed) {
    // Widths are finite (non-finite ones are never stored), so NaN marks absence.
    if (code < 256) return std::isnan(low[code]) ? std::nullopt : std::optional<double>(low[code]);
    auto it = std::upper_bound(flat.begin(), flat.end(), code,
                               [](uint32_t c, const std::pair<uint32_t, Span>& e) { return c < e.first; });
    if (it == flat.begin()) return std::nullopt;
    --it;
    if (it->second.last < code) return std::nullopt;
    return it->second.width;
  }
  auto it = spans.upper_bound(code);
  if (it == spans.begin()) return std::nullopt;
  --it;
  if (it->second.last < code) return std::nullopt;
  return it->second.width;
}

// ---------------------------------------------------------------------- Font

namespace {

// Writes a ligature U+FB00..U+FB06 as its letters, any other character as is.
void append_character(std::string& out, uint32_t unicode) {
  std::string_view letters = ligature_letters(unicode);
  if (!letters.empty()) {
    out.append(letters);
  } else if (is_scalar(unicode)) {
    append_utf8(out, unicode);
  }
}

}  // namespace

uint32_t CidText::unicode(uint32_t cid) const {
  if (collection != Collection::None) return collection_unicode(collection, cid);
  if (truetype) {
    uint32_t gid = cid;
    if (cid_to_gid) gid = cid < cid_to_gid->size() ? (*cid_to_gid)[cid] : 0;
    return gid == 0 ? 0 : truetype->unicode_of_glyph(gid);
  }
  if (cff) return cid < cff->glyph_unicode.size() ? cff->glyph_unicode[cid] : 0;
  return 0;
}

void Font::append_code_text(uint32_t code, std::string& out, size_t length) const {
  // Latin ligatures are written as their letters whatever gives them (the
  // ToUnicode map expands its own).
  if (to_unicode && to_unicode->lookup_into(code, out)) return;
  if (two_byte) {
    if (code_map && code_map->kind == PredefinedCMap::Kind::Unicode) {
      if (length >= 2) append_character(out, PredefinedCMap::unicode_of_code(code, length));
    } else if (cid_text) {
      if (uint32_t unicode = cid_text->unicode(cid_of(code, length))) append_character(out, unicode);
    }
    return;
  }
  if (code >= 256) return;
  uint32_t unicode = encoding[code];
  if (unicode != 0) append_character(out, unicode);
}

void Font::prepare() {
  widths.build_index();
  glyphs_ready_ = false;
  if (two_byte) return;
  std::string text;
  for (uint32_t code = 0; code < 256; ++code) {
    text.clear();
    append_code_text(code, text);
    glyph_widths_[code] = widths.width_or(code, default_width);
    GlyphText& glyph = glyphs_[code];
    if (text.size() > sizeof(glyph.bytes)) {
      glyph.size = kLongGlyph;
      continue;
    }
    std::memcpy(glyph.bytes, text.data(), text.size());
    glyph.size = static_cast<uint8_t>(text.size());
  }
  glyphs_ready_ = true;
}

double Font::show_into(ByteSpan s, std::string& out, double tc, double tw, double tfs, double th) const {
  double total = 0;
  const size_t n = s.size();
  if (glyphs_ready_) {
    // Text is gathered in a stack buffer and appended in blocks; each glyph
    // copies a whole 16-byte entry, of which only `size` bytes count.
    char buffer[1024];
    size_t used = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint8_t code = s[i];
      const GlyphText& glyph = glyphs_[code];
      if (used > sizeof(buffer) - sizeof(GlyphText)) {
        out.append(buffer, used);
        used = 0;
      }
      if (glyph.size != kLongGlyph) {
        std::memcpy(buffer + used, &glyph, sizeof(GlyphText));
        used += glyph.size;
      } else {
        out.append(buffer, used);
        used = 0;
        append_code_text(code, out);
      }
      double word_spacing = code == 32 ? tw : 0.0;
      total += th * (tfs * glyph_widths_[code] + tc + word_spacing);
    }
    out.append(buffer, used);
    return total;
  }
  for (size_t i = 0; i < n;) {
    uint32_t code = s[i];
    size_t length = 1;
    if (code_map) {
      length = code_map->next_code(s, i, code);
    } else if (two_byte && i + 1 < n) {
      code = (code << 8) | s[i + 1];
      length = 2;
    }  // else a one-byte font, or the lone last byte of an odd Type0 string
    i += length;
    append_code_text(code, out, length);
    double width = widths.width_or(two_byte ? cid_of(code, length) : code, default_width);
    // Word spacing applies to the one-byte code 32 (of a composite font too,
    // where its CMap makes it one byte long).
    double word_spacing = (code == 32 && length == 1 && (!two_byte || code_map)) ? tw : 0.0;
    total += th * (tfs * width + tc + word_spacing);
  }
  return total;
}

// ------------------------------------------------------------------- loading

const std::vector<Object>* resolve_array(const Resolver& resolver, const Dictionary& dict, std::string_view key) {
  const Object* entry = dict.get(key);
  if (!entry) return nullptr;
  const Object* value = resolver.deref(*entry);
  return value ? value->array_value() : nullptr;
}

void insert_width(WidthMap& widths, int64_t code, const Object& value) {
  std::optional<double> width = width_of(value);
  if (!width || code < 0 || code > kMaxCode) return;
  widths.insert(static_cast<uint32_t>(code), *width);
}

namespace {

// The table an /Encoding entry gives: a base encoding by name, or a
// dictionary (or, leniently, a stream) with /BaseEncoding and /Differences.
std::array<uint32_t, 256> encoding_table(const Resolver& resolver, const Object& entry) {
  const auto& windows = base_encoding(BaseEncoding::Windows);
  const Object* value = resolver.deref(entry);
  if (!value) return windows;
  if (value->is_name()) return base_encoding(base_encoding_named(value->as_name()));
  if (value->is_dict()) {
    const std::string* base = value->as_dict().get_name("BaseEncoding");
    std::array<uint32_t, 256> table = base ? base_encoding(base_encoding_named(*base)) : windows;
    apply_differences(table, value->as_dict());
    return table;
  }
  if (value->is_stream()) {
    std::array<uint32_t, 256> table = windows;
    apply_differences(table, value->as_stream().dict);
    return table;
  }
  return windows;
}

}  // namespace

namespace {

std::optional<Bytes> decoded_stream(const Resolver& resolver, const Object& entry) {
  const Object* value = resolver.deref(entry);
  if (!value || !value->is_stream()) return std::nullopt;
  const Stream& stream = value->as_stream();
  Result<Bytes> decoded = decode_stream(stream.dict, stream.data());
  if (!decoded) return std::nullopt;
  return std::move(*decoded);
}

FontProgram parse_program(const Resolver& resolver, std::string_view key, const Object& entry) {
  FontProgram program;
  const Object* value = resolver.deref(entry);
  std::optional<Bytes> data = decoded_stream(resolver, entry);
  if (!value || !data) return program;
  const Dictionary& dict = value->as_stream().dict;
  if (key == "FontFile") {
    const std::optional<int64_t> clear = dict.get_int("Length1");
    program.type1_encoding = type1_encoding(*data, clear && *clear > 0 ? static_cast<size_t>(*clear) : 0);
    return program;
  }
  const std::string* subtype = dict.get_name("Subtype");
  const bool cff = key == "FontFile3" && subtype && (*subtype == "Type1C" || *subtype == "CIDFontType0C");
  if (cff) {
    if (Result<CffText> parsed = parse_cff(*data)) program.cff = std::make_shared<const CffText>(std::move(*parsed));
  } else if (Result<TrueTypeText> parsed = parse_truetype(*data)) {  // FontFile2, or FontFile3 /OpenType
    program.truetype = std::make_shared<const TrueTypeText>(std::move(*parsed));
  }
  return program;
}

const Dictionary* font_descriptor(const Resolver& resolver, const Dictionary& font) {
  const Object* entry = font.get("FontDescriptor");
  if (!entry) return nullptr;
  Result<const Dictionary*> descriptor = resolver.resolve_dict(*entry);
  return descriptor ? *descriptor : nullptr;
}

// The embedded program of a font descriptor, parsed once per stream object.
std::shared_ptr<const FontProgram> load_program(const Resolver& resolver, const Dictionary& owner, FontCache* cache) {
  const Dictionary* descriptor = font_descriptor(resolver, owner);
  if (!descriptor) return nullptr;
  for (std::string_view key : {"FontFile", "FontFile2", "FontFile3"}) {
    const Object* entry = descriptor->get(key);
    if (!entry) continue;
    return cached_by_object(cache ? &cache->programs : nullptr, *entry, [&] {
      return std::make_shared<const FontProgram>(parse_program(resolver, key, *entry));
    });
  }
  return nullptr;
}

// A simple font's built-in encoding, code -> Unicode, from its program.
std::optional<std::array<uint32_t, 256>> builtin_encoding(const FontProgram& program) {
  if (program.type1_encoding) return program.type1_encoding;
  if (program.cff && !program.cff->cid_keyed) return program.cff->encoding;
  const TrueTypeText* truetype = program.truetype.get();
  // A TrueType font's codes are its own only when it has no Unicode cmap
  // (a symbolic font); otherwise the usual base encoding applies.
  if (!truetype || truetype->has_unicode_cmap || truetype->symbolic_glyphs.empty()) return std::nullopt;
  std::array<uint32_t, 256> table{};
  for (size_t code = 0; code < 256; ++code) table[code] = truetype->unicode_of_glyph(truetype->symbolic_glyphs[code]);
  return table;
}

// A simple font's built-in encoding is its base when it has no /Encoding, or
// an /Encoding dictionary without /BaseEncoding (ISO 32000-1 table 114); for
// a TrueType program only when the font is flagged symbolic (section
// 9.6.6.4). Checked before the program is read, so that other fonts never
// parse theirs.
bool uses_builtin_encoding(const Resolver& resolver, const Dictionary& font_dict) {
  if (const Object* entry = font_dict.get("Encoding")) {
    const Object* value = resolver.deref(*entry);
    if (!value || !value->is_dict() || value->as_dict().get_name("BaseEncoding")) return false;
  }
  const Object* subtype = font_dict.get("Subtype");
  if (!subtype || !subtype->is_name() || subtype->as_name() != "TrueType") return true;
  const Dictionary* descriptor = font_descriptor(resolver, font_dict);
  const std::optional<int64_t> flags = descriptor ? descriptor->get_int("Flags") : std::nullopt;
  return flags && (*flags & 4);
}

// The built-in encoding as the base, /Differences on top; codes the program
// leaves without a character keep the Windows table's.
void apply_builtin_encoding(const Resolver& resolver, const Dictionary& font_dict, const FontProgram& program,
                            std::array<uint32_t, 256>& table) {
  std::optional<std::array<uint32_t, 256>> builtin = builtin_encoding(program);
  if (!builtin) return;
  const auto& windows = base_encoding(BaseEncoding::Windows);
  for (size_t code = 0; code < 256; ++code) table[code] = (*builtin)[code] != 0 ? (*builtin)[code] : windows[code];
  const Object* entry = font_dict.get("Encoding");
  const Object* value = entry ? resolver.deref(*entry) : nullptr;
  if (value && value->is_dict()) apply_differences(table, value->as_dict());
}

std::vector<uint16_t> cid_to_gid_map(ByteSpan data) {
  std::vector<uint16_t> map(data.size() / 2);
  for (size_t k = 0; k < map.size(); ++k) map[k] = static_cast<uint16_t>((data[2 * k] << 8) | data[2 * k + 1]);
  return map;
}

// Where a Type0 font's text comes from when its ToUnicode map has none.
std::shared_ptr<const CidText> load_cid_text(const Resolver& resolver, const Font& font, const Dictionary* cid_font,
                                             FontCache* cache) {
  if (font.code_map && font.code_map->kind == PredefinedCMap::Kind::Unicode) return nullptr;  // codes are the text
  CidText text;
  if (font.code_map) text.collection = font.code_map->collection;
  if (text.collection == Collection::None && cid_font) {
    if (const Dictionary* info = cid_font->get_dict("CIDSystemInfo")) {
      const Object* registry = info->get("Registry");
      const Object* ordering = info->get("Ordering");
      if (registry && ordering && registry->is_string() && ordering->is_string())
        text.collection = collection_named(registry->as_string(), ordering->as_string());
    }
  }
  // The program is read only when there is no ToUnicode map at all.
  if (text.collection == Collection::None && cid_font && !font.to_unicode) {
    if (std::shared_ptr<const FontProgram> program = load_program(resolver, *cid_font, cache)) {
      if (program->truetype) {
        text.truetype = program->truetype;
        const Object* map = cid_font->get("CIDToGIDMap");
        if (std::optional<Bytes> data = map ? decoded_stream(resolver, *map) : std::nullopt)
          text.cid_to_gid = std::make_shared<const std::vector<uint16_t>>(cid_to_gid_map(*data));
      } else if (program->cff && program->cff->cid_keyed) {
        text.collection = collection_named(program->cff->registry, program->cff->ordering);
      } else if (program->cff) {
        text.cff = program->cff;
      }
    }
  }
  if (text.collection == Collection::None && !text.truetype && !text.cff) return nullptr;
  return std::make_shared<const CidText>(std::move(text));
}

}  // namespace

std::array<uint32_t, 256> simple_encoding(const Resolver& resolver, const Dictionary& font_dict, FontCache* cache) {
  const auto& windows = base_encoding(BaseEncoding::Windows);
  const Object* entry = font_dict.get("Encoding");
  if (!entry) return windows;
  return cached_by_object(cache ? &cache->encodings : nullptr, *entry,
                          [&] { return encoding_table(resolver, *entry); });
}

Font load_font(const Resolver& resolver, const Dictionary& font_dict, FontCache* cache) {
  Font font;
  font.to_unicode = load_to_unicode(resolver, font_dict, cache);
  const Object* subtype = font_dict.get("Subtype");
  if (subtype && subtype->is_name() && subtype->as_name() == "Type0") {
    // Codes split as the /Encoding CMap's code-space ranges say (two bytes
    // for Identity and embedded CMaps); widths are looked up by CID.
    if (!font.to_unicode && identity_to_unicode(resolver, font_dict)) font.to_unicode = identity_cmap();
    load_type0_widths(resolver, font_dict, font, cache);
    font.two_byte = true;
    if (const std::string* name = font_dict.get_name("Encoding")) {
      const PredefinedCMap* cmap = predefined_cmap(*name);
      if (cmap && cmap->kind != PredefinedCMap::Kind::Identity) font.code_map = cmap;
    }
    const Dictionary* cid_font = nullptr;
    if (const std::vector<Object>* descendants = resolve_array(resolver, font_dict, "DescendantFonts")) {
      if (!descendants->empty()) {
        if (Result<const Dictionary*> resolved = resolver.resolve_dict(descendants->front())) cid_font = *resolved;
      }
    }
    font.cid_text = load_cid_text(resolver, font, cid_font, cache);
    font.prepare();
    return font;
  }
  font.encoding = simple_encoding(resolver, font_dict, cache);
  if (!font.to_unicode && uses_builtin_encoding(resolver, font_dict)) {
    // The program is read only when there is no ToUnicode map.
    if (std::shared_ptr<const FontProgram> program = load_program(resolver, font_dict, cache))
      apply_builtin_encoding(resolver, font_dict, *program, font.encoding);
  }
  load_simple_widths(resolver, font_dict, font);
  font.default_width = 0.5;
  font.two_byte = false;
  font.prepare();
  return font;
}

FontMap load_fonts(const Resolver& resolver, const Dictionary& resources, FontCache* cache) {
  FontMap fonts;
  const Object* entry = resources.get("Font");
  if (!entry) return fonts;
  Result<const Dictionary*> font_dir = resolver.resolve_dict(*entry);
  if (!font_dir) return fonts;
  for (const auto& [name, value] : **font_dir) {
    std::optional<uint32_t> object_num;
    if (value.is_ref() && cache) object_num = value.as_ref().num;
    if (object_num) {
      if (auto hit = cache->by_object.find(*object_num); hit != cache->by_object.end()) {
        fonts.insert_or_assign(name, hit->second);
        continue;
      }
    }
    Result<const Dictionary*> font_dict = resolver.resolve_dict(value);
    if (!font_dict) continue;  // a dangling or non-dictionary font is left out
    auto font = std::make_shared<const Font>(load_font(resolver, **font_dict, cache));
    if (object_num) cache->by_object.emplace(*object_num, font);
    fonts.insert_or_assign(name, std::move(font));
  }
  return fonts;
}

std::shared_ptr<const FontMap> page_fonts(const Resolver& resolver, const Dictionary& resources, FontCache& cache) {
  if (auto hit = cache.by_resources.find(&resources); hit != cache.by_resources.end()) return hit->second;
  std::shared_ptr<const FontMap> fonts = std::make_shared<const FontMap>();
  const Dictionary* font_dir = nullptr;
  if (const Object* entry = resources.get("Font")) {
    Result<const Dictionary*> resolved = resolver.resolve_dict(*entry);
    if (resolved) font_dir = *resolved;
  }
  if (font_dir) {
    if (auto hit = cache.by_font_dict.find(font_dir); hit != cache.by_font_dict.end()) {
      fonts = hit->second;
    } else {
      fonts = std::make_shared<const FontMap>(load_fonts(resolver, resources, &cache));
      cache.by_font_dict.emplace(font_dir, fonts);
    }
  }
  cache.by_resources.emplace(&resources, fonts);
  return fonts;
}

}  // namespace vellum
