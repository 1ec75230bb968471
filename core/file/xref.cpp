// Cross-reference data. The newest section is found through the last
// `startxref`; older sections follow through /Prev, and the first entry seen
// for an object number wins, so newer sections override older ones. Hybrid
// files add their /XRefStm stream right after their own table. Loops in the
// chain end the walk quietly (each offset is visited once), and nothing here
// allocates in proportion to a count the file claims: entries are only made
// for records that are actually present.
#include "file/xref.h"

#include <cstring>
#include <set>

#include "syntax/cos.h"
#include "filter/filter.h"
#include "file/resolver.h"

namespace vellum {

namespace {

Error xref_error(const char* message) { return make_error(ErrorKind::InvalidXref, message); }

// Offset just after the last occurrence of "startxref", or npos.
size_t find_last_startxref(ByteSpan data) {
  static constexpr std::string_view kWord = "startxref";
  if (data.size() < kWord.size()) return std::string_view::npos;
  for (size_t end = data.size(); end >= kWord.size(); --end) {
    const uint8_t* p = data.data() + end - kWord.size();
    if (p[0] == 's' && std::memcmp(p, kWord.data(), kWord.size()) == 0) return end;
  }
  return std::string_view::npos;
}

Result<XrefSection> read_classic_section(Lexer& lx) {
  XrefSection section;
  while (true) {
    lx.skip_ws();
    if (lx.eat_keyword("trailer")) break;
    VELLUM_TRY(uint32_t first, read_uint(lx));
    VELLUM_TRY(uint32_t count, read_uint(lx));
    for (uint32_t i = 0; i < count; ++i) {
      VELLUM_TRY(uint32_t offset, read_uint(lx));
      VELLUM_TRY(uint32_t generation, read_uint(lx));
      lx.skip_ws();
      std::string_view type = lx.read_keyword();
      if (type != "n" && type != "f") return xref_error("bad xref entry type");
      uint32_t num = first + i;  // unsigned 32-bit arithmetic wraps
      XrefEntry entry = type == "n" ? XrefEntry::in_file(offset, static_cast<uint16_t>(generation)) : XrefEntry::free();
      section.entries.emplace(num, entry);  // within a section the first entry wins
    }
  }
  VELLUM_TRY(Object trailer, parse_object(lx));
  if (!trailer.is_dict()) return xref_error("trailer is not a dictionary");
  section.trailer = std::move(trailer.as_dict_mut());
  return section;
}

std::optional<uint64_t> non_negative_int(const Dictionary& dict, std::string_view key) {
  std::optional<int64_t> v = dict.get_int(key);
  if (!v || *v < 0) return std::nullopt;
  return static_cast<uint64_t>(*v);
}

// Big-endian unsigned field of `width` bytes, keeping the low 64 bits.
uint64_t read_field(const uint8_t* p, uint64_t width) {
  uint64_t v = 0;
  for (uint64_t k = 0; k < width; ++k) v = (v << 8) | p[k];
  return v;
}

}  // namespace

Result<uint32_t> read_uint(Lexer& lexer) {
  lexer.skip_ws();
  std::string_view run = lexer.read_keyword();
  if (run.empty()) return xref_error("expected integer");
  std::optional<uint64_t> value = parse_unsigned(run, 0xFFFFFFFFull);
  if (!value) return xref_error("bad integer");
  return static_cast<uint32_t>(*value);
}

void merge_entries(Xref& xref, const XrefSection& section) {
  for (const auto& [num, entry] : section.entries) xref.entries.emplace(num, entry);
}

Result<XrefSection> parse_xref_stream(ByteSpan data, uint64_t offset) {
  Lexer lx(data, offset > data.size() ? data.size() : static_cast<size_t>(offset));
  VELLUM_CHECK(read_header(lx));
  VELLUM_TRY(Object obj, parse_object(lx));
  std::optional<int64_t> length;
  if (obj.is_dict()) {
    std::optional<int64_t> l = obj.as_dict().get_int("Length");
    if (l && *l >= 0) length = l;
  }
  Object assembled = assemble_stream(data, lx, std::move(obj), length);
  if (!assembled.is_stream()) return xref_error("xref stream is not a stream");
  const Stream& stream = assembled.as_stream();
  const Dictionary& dict = stream.dict;
  auto decoded = decode_stream(dict, stream.data());
  if (!decoded) return xref_error("xref decode");
  const Bytes& records = decoded.value();

  const std::vector<Object>* w = dict.get_array("W");
  if (!w) return xref_error("xref /W missing");
  std::vector<uint64_t> widths;
  for (const Object& o : *w)
    if (o.is_int() && o.as_int() >= 0) widths.push_back(static_cast<uint64_t>(o.as_int()));
  if (widths.size() != 3) return xref_error("xref /W must have three widths");

  std::vector<std::pair<uint32_t, uint32_t>> subsections;
  if (const std::vector<Object>* index = dict.get_array("Index")) {
    for (size_t k = 0; k + 1 < index->size(); k += 2) {
      const Object& a = (*index)[k];
      const Object& b = (*index)[k + 1];
      auto in_range = [](const Object& o) { return o.is_int() && o.as_int() >= 0 && o.as_int() <= 0xFFFFFFFFll; };
      if (in_range(a) && in_range(b))
        subsections.emplace_back(static_cast<uint32_t>(a.as_int()), static_cast<uint32_t>(b.as_int()));
    }
  } else {
    std::optional<int64_t> size = dict.get_int("Size");
    if (!size) return xref_error("xref /Size missing");
    if (*size < 0 || *size > 0xFFFFFFFFll) return xref_error("bad /Size");
    subsections.emplace_back(0, static_cast<uint32_t>(*size));
  }

  // Widths are clamped when summed: any width beyond the data already makes
  // the first record truncated, so the clamp changes no result.
  uint64_t record = 0;
  for (uint64_t wd : widths) record += wd > (uint64_t{1} << 40) ? (uint64_t{1} << 40) : wd;
  if (record == 0) return xref_error("xref stream zero-width records");

  XrefSection section;
  uint64_t pos = 0;
  for (auto [first, count] : subsections) {
    for (uint64_t i = 0; i < count; ++i) {
      if (records.size() < record || pos > records.size() - record) return xref_error("xref stream truncated");
      const uint8_t* p = records.data() + pos;
      uint64_t type = widths[0] == 0 ? 1 : read_field(p, widths[0]);
      uint64_t f2 = read_field(p + widths[0], widths[1]);
      uint64_t f3 = read_field(p + widths[0] + widths[1], widths[2]);
      pos += record;
      uint32_t num = static_cast<uint32_t>(first + i);
      switch (type) {
        case 0: section.entries.emplace(num, XrefEntry::free()); break;
        case 1: section.entries.emplace(num, XrefEntry::in_file(f2, static_cast<uint16_t>(f3))); break;
        case 2:
          section.entries.emplace(num, XrefEntry::in_stream(static_cast<uint32_t>(f2), static_cast<uint32_t>(f3)));
          break;
        default: break;  // unknown record types are skipped
      }
    }
  }
  section.trailer = dict;
  return section;
}

Result<Xref> read_xref(ByteSpan data, bool* looped) {
  size_t after = find_last_startxref(data);
  if (after == std::string_view::npos) return xref_error("no startxref");
  Lexer start(data, after);
  VELLUM_TRY(uint32_t first_offset, read_uint(start));

  Xref xref;
  std::set<uint64_t> seen_sections;
  std::set<uint64_t> seen_hybrid;
  std::optional<uint64_t> offset = first_offset;
  while (offset) {
    if (!seen_sections.insert(*offset).second) {  // a /Prev loop ends the chain
      if (looped) *looped = true;
      break;
    }
    Lexer lx(data, *offset > data.size() ? data.size() : static_cast<size_t>(*offset));
    lx.skip_ws();
    XrefSection section;
    if (lx.eat_keyword("xref")) {
      VELLUM_TRY(XrefSection classic, read_classic_section(lx));
      section = std::move(classic);
    } else {
      VELLUM_TRY(XrefSection stream, parse_xref_stream(data, *offset));
      section = std::move(stream);
    }
    std::optional<uint64_t> prev = non_negative_int(section.trailer, "Prev");
    std::optional<uint64_t> xref_stm = non_negative_int(section.trailer, "XRefStm");
    merge_entries(xref, section);
    if (xref.trailer.empty()) xref.trailer = std::move(section.trailer);
    if (xref_stm && seen_hybrid.insert(*xref_stm).second) {
      auto hybrid = parse_xref_stream(data, *xref_stm);
      if (hybrid) merge_entries(xref, hybrid.value());  // errors of a hybrid stream are ignored
    }
    offset = prev;
  }
  return xref;
}

}  // namespace vellum
