// Document information without page content: the page tree gives the
// count, the trailer the information dictionary and the encryption, the
// catalog the outline.
//
// The outline is a linked structure the file controls (/First, /Next), so
// the walk visits each item dictionary once (a loop ends the chain it
// closes) and lists no level deeper than kMaxOutlineDepth; named
// destinations are collected once from the name tree, with the same guards.
// Everything is one pass over what the file holds.
#include "extract/info.h"

#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "font/cmap.h"
#include "page/pagetree.h"

namespace vellum {

namespace {

// PDFDocEncoding (ISO 32000-1 Annex D.2) where it differs from Latin-1:
// 0x18-0x1F and 0x7F-0xA0; 0xAD is undefined. 0 marks an undefined code.
constexpr uint16_t kPdfDocLow[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr uint16_t kPdfDocHigh[34] = {
    0,      0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141, 0x0152,
    0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC};  // 0x7F..0xA0

uint32_t pdfdoc_scalar(uint8_t c) {
  if (c >= 0x18 && c <= 0x1F) return kPdfDocLow[c - 0x18];
  if (c >= 0x7F && c <= 0xA0) return kPdfDocHigh[c - 0x7F] ? kPdfDocHigh[c - 0x7F] : 0xFFFD;
  if (c == 0xAD) return 0xFFFD;
  return c;
}

// Drops ESC ... ESC language marks from decoded UTF-16 text.
std::string without_language_escapes(std::string text) {
  size_t esc = text.find('\x1b');
  if (esc == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (esc != std::string::npos) {
    out.append(text, i, esc - i);
    size_t close = text.find('\x1b', esc + 1);
    i = close == std::string::npos ? text.size() : close + 1;
    esc = text.find('\x1b', i);
  }
  out.append(text, i, std::string::npos);
  return out;
}

// Reads `n` decimal digits at `pos`; false when they are not all digits.
bool read_digits(std::string_view s, size_t& pos, size_t n, int& value) {
  if (pos + n > s.size()) return false;
  value = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += n;
  return true;
}

std::optional<std::string> string_entry(const Resolver& resolver, const Dictionary& dict, std::string_view key) {
  const Object* entry = dict.get(key);
  const Object* value = entry ? resolver.deref(*entry) : nullptr;
  if (!value || !value->is_string()) return std::nullopt;
  return value->as_string();
}

std::optional<std::string> text_entry(const Resolver& resolver, const Dictionary& dict, std::string_view key) {
  std::optional<std::string> raw = string_entry(resolver, dict, key);
  if (!raw) return std::nullopt;
  return decode_text_string(*raw);
}

const Dictionary* info_dict(const Document& doc) {
  const Object* info = doc.resolver().xref().trailer.get("Info");
  if (!info) return nullptr;
  Result<const Dictionary*> dict = doc.resolver().resolve_dict(*info);
  return dict ? dict.value() : nullptr;
}

std::optional<std::string> method_name(const Decryptor* decryptor) {
  if (!decryptor) return std::nullopt;
  switch (decryptor->method()) {
    case CryptMethod::Rc4: return "RC4-" + std::to_string(decryptor->key().size() * 8);
    case CryptMethod::Aes128: return "AES-128";
    case CryptMethod::Aes256: return "AES-256";
  }
  return std::nullopt;
}

class OutlineWalk {
 public:
  OutlineWalk(const Resolver& resolver, const Dictionary& catalog, const std::vector<Page>& pages,
              std::vector<OutlineItem>& out, const Dictionary* root)
      : resolver_(resolver), catalog_(catalog), out_(out), visited_{root} {
    page_index_.reserve(pages.size());
    for (size_t i = 0; i < pages.size(); ++i) page_index_.emplace(pages[i].dict, i);
  }

  // The items of one level, from `first` along /Next, each followed by its
  // children.
  void items(const Object& first, int level) {
    const Object* at = &first;
    while (at) {
      Result<const Dictionary*> got = resolver_.resolve_dict(*at);
      if (!got || !visited_.insert(got.value()).second) return;
      const Dictionary& item = *got.value();
      OutlineItem entry;
      entry.level = level;
      entry.title = text_entry(resolver_, item, "Title").value_or("");
      entry.page = item_page(item);
      out_.push_back(std::move(entry));
      if (const Object* child = item.get("First"); child && level < kMaxOutlineDepth) items(*child, level + 1);
      at = item.get("Next");
    }
  }

 private:
  std::optional<size_t> item_page(const Dictionary& item) {
    if (const Object* dest = item.get("Dest")) return dest_page(*dest, 0);
    const Object* action_entry = item.get("A");
    if (!action_entry) return std::nullopt;
    Result<const Dictionary*> action = resolver_.resolve_dict(*action_entry);
    if (!action) return std::nullopt;
    const std::string* kind = (*action)->get_name("S");
    const Object* dest = (*action)->get("D");
    if (!kind || *kind != "GoTo" || !dest) return std::nullopt;
    return dest_page(*dest, 0);
  }

  // An explicit destination ([page /XYZ ...]), a named one, or a dictionary
  // holding one under /D. `hops` bounds the indirections through names.
  std::optional<size_t> dest_page(const Object& dest, int hops) {
    const Object* value = resolver_.deref(dest);
    if (!value || hops > 2) return std::nullopt;
    if (value->is_array()) {
      if (value->as_array().empty()) return std::nullopt;
      const Object& target = value->as_array()[0];
      if (!target.is_ref() && !target.is_dict()) return std::nullopt;
      Result<const Dictionary*> page = resolver_.resolve_dict(target);
      if (!page) return std::nullopt;
      auto found = page_index_.find(page.value());
      if (found == page_index_.end()) return std::nullopt;
      return found->second;
    }
    if (const Dictionary* dict = value->dict_value()) {
      const Object* inner = dict->get("D");
      return inner ? dest_page(*inner, hops + 1) : std::nullopt;
    }
    const std::string* name = value->is_name() ? &value->as_name() : value->string_value();
    if (!name) return std::nullopt;
    const Object* named = named_dest(*name);
    return named ? dest_page(*named, hops + 1) : std::nullopt;
  }

  // Looked up in the catalog's /Dests dictionary (PDF 1.1), then in the
  // /Dests name tree below /Names.
  const Object* named_dest(const std::string& name) {
    if (!named_) {
      named_.emplace();
      if (const Object* dests = catalog_.get("Dests")) {
        if (Result<const Dictionary*> dict = resolver_.resolve_dict(*dests)) {
          for (const auto& [key, value] : *dict.value()) named_->emplace(key, &value);
        }
      }
      if (const Object* names = catalog_.get("Names")) {
        Result<const Dictionary*> dict = resolver_.resolve_dict(*names);
        if (dict && (*dict)->get("Dests")) {
          std::unordered_set<const Dictionary*> seen;
          name_tree(*(*dict)->get("Dests"), 0, seen);
        }
      }
    }
    auto found = named_->find(name);
    return found == named_->end() ? nullptr : found->second;
  }

  void name_tree(const Object& node_entry, int depth, std::unordered_set<const Dictionary*>& seen) {
    Result<const Dictionary*> got = resolver_.resolve_dict(node_entry);
    if (!got || depth > kMaxOutlineDepth || !seen.insert(got.value()).second) return;
    const Dictionary& node = *got.value();
    if (const Object* names_entry = node.get("Names")) {
      const Object* names = resolver_.deref(*names_entry);
      if (names && names->is_array()) {
        const std::vector<Object>& pairs = names->as_array();
        for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
          if (pairs[i].is_string()) named_->emplace(pairs[i].as_string(), &pairs[i + 1]);
        }
      }
    }
    if (const Object* kids_entry = node.get("Kids")) {
      const Object* kids = resolver_.deref(*kids_entry);
      if (kids && kids->is_array()) {
        for (const Object& kid : kids->as_array()) name_tree(kid, depth + 1, seen);
      }
    }
  }

  const Resolver& resolver_;
  const Dictionary& catalog_;
  std::vector<OutlineItem>& out_;
  std::unordered_map<const Dictionary*, size_t> page_index_;
  std::unordered_set<const Dictionary*> visited_;
  std::optional<std::unordered_map<std::string, const Object*>> named_;
};

}  // namespace

std::string decode_text_string(std::string_view bytes) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xFE\xFF")) return without_language_escapes(utf16_be(as_bytes(bytes.substr(2))));
  if (starts("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (char c : bytes) append_utf8(out, pdfdoc_scalar(static_cast<uint8_t>(c)));
  return out;
}

std::optional<std::string> iso_date(std::string_view s) {
  size_t pos = 0;
  if (s.substr(0, 2) == "D:") pos = 2;
  int field[6] = {0, 1, 1, 0, 0, 0};  // year, month, day, hour, minute, second
  if (!read_digits(s, pos, 4, field[0])) return std::nullopt;
  for (int i = 1; i < 6 && pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++i) {
    if (!read_digits(s, pos, 2, field[i])) return std::nullopt;
  }
  if (field[1] < 1 || field[1] > 12 || field[2] < 1 || field[2] > 31 || field[3] > 23 || field[4] > 59 ||
      field[5] > 59)
    return std::nullopt;
  char text[40];
  int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", field[0], field[1], field[2], field[3],
                        field[4], field[5]);
  std::string out(text, static_cast<size_t>(n));
  if (pos < s.size() && s[pos] == 'Z') {
    out += "+00:00";
  } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    char sign = s[pos++];
    int hours = 0, minutes = 0;
    if (read_digits(s, pos, 2, hours)) {  // without hours the offset is unknown: the time stays local
      if (pos < s.size() && s[pos] == '\'') ++pos;
      if (!read_digits(s, pos, 2, minutes)) minutes = 0;
      if (hours > 23 || minutes > 59) return std::nullopt;
      std::snprintf(text, sizeof text, "%c%02d:%02d", hours == 0 && minutes == 0 ? '+' : sign, hours, minutes);
      out += text;
    }
  }
  // Whatever follows (padding, a stray apostrophe) is not part of the date.
  return out;
}

std::string document_title(const Document& doc) {
  const Dictionary* info = info_dict(doc);
  if (!info) return {};
  return text_entry(doc.resolver(), *info, "Title").value_or("");
}

Result<DocumentInfo> read_info(const Document& doc) {
  const Resolver& resolver = doc.resolver();
  VELLUM_TRY(const Dictionary* catalog, doc.catalog());
  VELLUM_TRY(std::vector<Page> pages, collect_pages(resolver, *catalog));
  DocumentInfo out;
  out.page_count = pages.size();
  out.version = doc.version();
  out.encrypted = resolver.xref().trailer.contains("Encrypt");
  if (out.encrypted) out.encryption = method_name(resolver.decryptor());

  if (const Dictionary* info = info_dict(doc)) {
    out.title = text_entry(resolver, *info, "Title");
    out.author = text_entry(resolver, *info, "Author");
    out.subject = text_entry(resolver, *info, "Subject");
    out.keywords = text_entry(resolver, *info, "Keywords");
    out.creator = text_entry(resolver, *info, "Creator");
    out.producer = text_entry(resolver, *info, "Producer");
    if (auto date = string_entry(resolver, *info, "CreationDate")) out.creation_date = iso_date(*date);
    if (auto date = string_entry(resolver, *info, "ModDate")) out.modification_date = iso_date(*date);
  }

  if (const Object* outlines_entry = catalog->get("Outlines")) {
    Result<const Dictionary*> outlines = resolver.resolve_dict(*outlines_entry);
    if (outlines) {
      if (const Object* first = (*outlines)->get("First")) {
        OutlineWalk walk(resolver, *catalog, pages, out.outline, outlines.value());
        walk.items(*first, 1);
      }
    }
  }
  return out;
}

}  // namespace vellum
