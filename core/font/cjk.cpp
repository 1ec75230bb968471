// CJK collections and predefined CMaps, decoded from the compact tables of
// cjk_tables.inc on first use (once per process; static initialisation is
// thread-safe). A collection's CID -> Unicode table is a flat array (a lookup
// is one index); a legacy CMap's code -> CID runs are searched by bisection.
#include "font/cjk.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>

namespace vellum {

namespace {

struct CollectionBlob {
  uint32_t count;
  const char* base64;
};
struct LegacyBlob {
  const char* name;
  uint8_t collection;  // index into kCollectionOrder
  const char* base64;
};

#include "font/cjk_tables.inc"

constexpr Collection kCollectionOrder[] = {Collection::Japan1, Collection::GB1, Collection::CNS1, Collection::Korea1};

std::string from_base64(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::string out;
  out.reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v = value(c);
    if (v < 0) continue;  // padding
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// Reads the generated varints; the data is ours, so no bounds beyond the end.
class VarintReader {
 public:
  explicit VarintReader(std::string data) : data_(std::move(data)) {}
  uint32_t next() {
    uint32_t value = 0;
    for (int shift = 0; pos_ < data_.size(); shift += 7) {
      uint8_t b = static_cast<uint8_t>(data_[pos_++]);
      value |= static_cast<uint32_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) break;
    }
    return value;
  }
  uint8_t byte() { return pos_ < data_.size() ? static_cast<uint8_t>(data_[pos_++]) : 0; }

 private:
  std::string data_;
  size_t pos_ = 0;
};

size_t collection_index(Collection c) { return static_cast<size_t>(c) - 1; }

const std::vector<uint32_t>& collection_table(Collection collection) {
  static const std::array<std::vector<uint32_t>, 4> tables = [] {
    std::array<std::vector<uint32_t>, 4> out;
    for (size_t k = 0; k < 4; ++k) {
      VarintReader reader(from_base64(kCollectionBlobs[k].base64));
      std::vector<uint32_t>& table = out[k];
      table.resize(kCollectionBlobs[k].count);
      int64_t value = 0;
      for (uint32_t& entry : table) {
        uint32_t zigzag = reader.next();
        value += (zigzag & 1) ? -static_cast<int64_t>((zigzag + 1) >> 1) : static_cast<int64_t>(zigzag >> 1);
        entry = static_cast<uint32_t>(value);
      }
    }
    return out;
  }();
  return tables[collection_index(collection)];
}

PredefinedCMap decode_legacy(const LegacyBlob& blob) {
  PredefinedCMap cmap;
  cmap.kind = PredefinedCMap::Kind::Legacy;
  cmap.collection = kCollectionOrder[blob.collection];
  VarintReader reader(from_base64(blob.base64));
  uint32_t spaces = reader.next();
  for (uint32_t k = 0; k < spaces; ++k) {
    PredefinedCMap::CodeRange range{};
    range.size = static_cast<uint8_t>(std::min<uint32_t>(reader.byte(), 4));
    for (size_t b = 0; b < range.size && b < 4; ++b) range.low[b] = reader.byte();
    for (size_t b = 0; b < range.size && b < 4; ++b) range.high[b] = reader.byte();
    cmap.spaces.push_back(range);
  }
  uint32_t runs = reader.next();
  uint32_t low = 0;
  for (uint32_t k = 0; k < runs; ++k) {
    low += reader.next();
    uint32_t high = low + reader.next();
    cmap.runs.push_back({low, high, reader.next()});
  }
  return cmap;
}

PredefinedCMap unicode_cmap(Collection collection, bool utf16) {
  PredefinedCMap cmap;
  cmap.kind = PredefinedCMap::Kind::Unicode;
  cmap.collection = collection;
  if (utf16) {
    cmap.spaces = {{2, {0x00, 0x00}, {0xD7, 0xFF}},
                   {4, {0xD8, 0x00, 0xDC, 0x00}, {0xDB, 0xFF, 0xDF, 0xFF}},
                   {2, {0xE0, 0x00}, {0xFF, 0xFF}}};
  } else {
    cmap.spaces = {{2, {0x00, 0x00}, {0xFF, 0xFF}}};
  }
  return cmap;
}

Collection unicode_collection(std::string_view family) {
  if (family.starts_with("JIS") || family == "Hojo") return Collection::Japan1;
  if (family == "GB") return Collection::GB1;
  if (family == "CNS") return Collection::CNS1;
  if (family == "KS") return Collection::Korea1;
  return Collection::None;
}

}  // namespace

Collection collection_named(std::string_view registry, std::string_view ordering) {
  if (registry != "Adobe") return Collection::None;
  if (ordering == "Japan1") return Collection::Japan1;
  if (ordering == "GB1") return Collection::GB1;
  if (ordering == "CNS1") return Collection::CNS1;
  if (ordering == "Korea1") return Collection::Korea1;
  return Collection::None;
}

uint32_t collection_unicode(Collection collection, uint32_t cid) {
  if (collection == Collection::None) return 0;
  const std::vector<uint32_t>& table = collection_table(collection);
  return cid < table.size() ? table[cid] : 0;
}

uint32_t collection_cid(Collection collection, uint32_t unicode) {
  if (collection == Collection::None || unicode == 0) return 0;
  using Inverse = std::vector<std::pair<uint32_t, uint32_t>>;  // (unicode, cid), sorted
  static const std::array<Inverse, 4> inverses = [] {
    std::array<Inverse, 4> out;
    for (size_t k = 0; k < 4; ++k) {
      const std::vector<uint32_t>& table = collection_table(kCollectionOrder[k]);
      for (uint32_t cid = 0; cid < table.size(); ++cid)
        if (table[cid] != 0) out[k].emplace_back(table[cid], cid);
      std::sort(out[k].begin(), out[k].end());  // the lowest CID first for each character
    }
    return out;
  }();
  const Inverse& inverse = inverses[collection_index(collection)];
  auto it = std::lower_bound(inverse.begin(), inverse.end(), std::pair<uint32_t, uint32_t>{unicode, 0});
  return it != inverse.end() && it->first == unicode ? it->second : 0;
}

size_t PredefinedCMap::next_code(ByteSpan s, size_t i, uint32_t& code) const {
  const size_t left = s.size() - i;
  if (kind == Kind::Identity || spaces.empty()) {
    if (left >= 2) {
      code = (uint32_t{s[i]} << 8) | s[i + 1];
      return 2;
    }
    code = s[i];
    return 1;
  }
  for (const CodeRange& range : spaces) {
    if (range.size > left) continue;
    bool inside = true;
    for (uint8_t b = 0; b < range.size && inside; ++b)
      inside = s[i + b] >= range.low[b] && s[i + b] <= range.high[b];
    if (!inside) continue;
    code = 0;
    for (uint8_t b = 0; b < range.size; ++b) code = (code << 8) | s[i + b];
    return range.size;
  }
  code = s[i];
  return 1;
}

uint32_t PredefinedCMap::unicode_of_code(uint32_t code, size_t length) {
  if (length == 4) {
    uint32_t high = code >> 16, low = code & 0xFFFF;
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
  }
  return code;
}

uint32_t PredefinedCMap::cid(uint32_t code, size_t length) const {
  switch (kind) {
    case Kind::Identity:
      return code;
    case Kind::Unicode:
      return collection_cid(collection, unicode_of_code(code, length));
    case Kind::Legacy:
      break;
  }
  auto it = std::upper_bound(runs.begin(), runs.end(), code, [](uint32_t c, const CidRun& r) { return c < r.low; });
  if (it == runs.begin()) return 0;
  --it;
  return code <= it->high ? it->cid + (code - it->low) : 0;
}

const PredefinedCMap* predefined_cmap(std::string_view name) {
  static const std::vector<std::pair<std::string, PredefinedCMap>> legacy = [] {
    std::vector<std::pair<std::string, PredefinedCMap>> out;
    for (const LegacyBlob& blob : kLegacyBlobs) out.emplace_back(blob.name, decode_legacy(blob));
    return out;
  }();
  static const PredefinedCMap identity;
  static const std::array<PredefinedCMap, 8> unicode = [] {
    std::array<PredefinedCMap, 8> out;
    for (size_t k = 0; k < 4; ++k) {
      out[2 * k] = unicode_cmap(kCollectionOrder[k], false);
      out[2 * k + 1] = unicode_cmap(kCollectionOrder[k], true);
    }
    return out;
  }();

  if (name == "Identity-H" || name == "Identity-V") return &identity;
  // The horizontal form: "...-V" reads as "...-H", and "V" as "H".
  std::string horizontal(name);
  if (horizontal == "V") horizontal = "H";
  if (horizontal.ends_with("-V")) horizontal.back() = 'H';
  if (horizontal.starts_with("Uni")) {
    // Uni<family>-UCS2-H, Uni<family>-UTF16-H and their variants (-HW-H, ...).
    size_t dash = horizontal.find('-');
    if (dash == std::string::npos) return nullptr;
    Collection collection = unicode_collection(std::string_view(horizontal).substr(3, dash - 3));
    std::string_view rest = std::string_view(horizontal).substr(dash + 1);
    bool ucs2 = rest.starts_with("UCS2-"), utf16 = rest.starts_with("UTF16-");
    if (collection == Collection::None || !(ucs2 || utf16)) return nullptr;
    return &unicode[2 * collection_index(collection) + (utf16 ? 1 : 0)];
  }
  for (const auto& [known, cmap] : legacy)
    if (known == horizontal) return &cmap;
  return nullptr;
}

}  // namespace vellum
