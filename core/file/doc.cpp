// Opening a document: header, cross-reference chain, trailer, security
// handler. Strict reading stops at the first fault of the file structure.
// Recovering reading first does exactly what strict reading does; only when
// that fails does it try, from cheapest to dearest: the file's own table
// with single objects found elsewhere (see Resolver::enable_recovery), the
// table read with offsets counted from a %PDF- header that is not at byte 0,
// and a table rebuilt from a scan of the whole file (file/recover). When
// none gives a usable catalog, the strict outcome stands, so its error
// message does too.
#include "file/doc.h"

#include <cstring>

namespace vellum {

namespace {

Result<Xref> read_table(ByteSpan data, bool* looped = nullptr) {
  VELLUM_TRY(Xref xref, read_xref(data, looped));
  if (!xref.trailer.contains("Root")) return make_error(ErrorKind::MissingTrailer, "trailer has no /Root");
  return xref;
}

bool has_type(const Object& obj, std::string_view type) {
  const Dictionary* dict = obj.dict_or_stream_dict();
  const std::string* name = dict ? dict->get_name("Type") : nullptr;
  return name && *name == type;
}

}  // namespace

std::optional<Error> Document::install_security(ByteSpan password) {
  const Resolver& resolver = *resolver_;
  const Dictionary& trailer = resolver.xref().trailer;
  if (const Object* encrypt = trailer.get("Encrypt")) {
    std::optional<uint32_t> encrypt_num;
    if (encrypt->is_ref()) encrypt_num = encrypt->as_ref().num;
    Result<const Dictionary*> encrypt_dict = resolver.resolve_dict(*encrypt);
    if (!encrypt_dict) return encrypt_dict.error();
    ByteSpan id;
    if (const std::vector<Object>* ids = trailer.get_array("ID"); ids && !ids->empty() && (*ids)[0].is_string())
      id = as_bytes((*ids)[0].as_string());
    Result<std::optional<Decryptor>> decryptor = Decryptor::open(*encrypt_dict.value(), id, password);
    if (!decryptor) return decryptor.error();
    if (decryptor.value()) resolver_->install_decryptor(std::move(*decryptor.value()), encrypt_num);
  }
  return std::nullopt;
}

Result<Document> Document::parse_with_password(ByteSpan data, ByteSpan password, Reading reading) {
  auto no_header = [] { return make_error(ErrorKind::InvalidHeader, "no %PDF- header"); };
  if (data.size() < 5) return no_header();
  // The header may follow up to 1019 bytes of leading garbage.
  size_t limit = data.size() < 1024 ? data.size() : 1024;
  size_t header = std::string_view::npos;
  for (size_t i = 0; i + 5 <= limit; ++i) {
    if (std::memcmp(data.data() + i, "%PDF-", 5) == 0) {
      header = i;
      break;
    }
  }
  if (header == std::string_view::npos) return no_header();

  size_t v = header + 5;
  size_t end = v;
  while (end < data.size() && end - v < 8) {
    uint8_t c = data[end];
    if (c == '\t' || c == '\n' || c == '\r' || c == ' ') break;
    ++end;
  }
  Document doc;
  doc.version_ = utf8_lossy(as_chars(data.subspan(v, end - v)));

  bool looped = false;
  Result<Xref> table = read_table(data, &looped);
  if (reading == Reading::Strict) {
    if (!table) return std::move(table).error();
    doc.resolver_ = std::make_unique<Resolver>(data, std::move(table).value());
    if (std::optional<Error> failed = doc.install_security(password)) return *failed;
    return doc;
  }

  // The outcome of strict reading, kept in case nothing better is found.
  std::optional<Error> strict_error;
  std::optional<Document> strict_doc;
  std::string problem;
  auto attempt = [&](Xref xref, size_t shift) -> std::optional<Document> {
    Document d;
    d.version_ = doc.version_;
    d.resolver_ = std::make_unique<Resolver>(data, std::move(xref));
    d.resolver_->enable_recovery(shift);
    if (std::optional<Error> failed = d.install_security(password)) {
      if (!strict_error) strict_error = *failed;
      if (problem.empty()) problem = "the encryption dictionary could not be read (" + failed->display() + ")";
      return std::nullopt;
    }
    if (Result<const Dictionary*> catalog = d.catalog(); !catalog) {
      if (problem.empty()) problem = "the document catalog could not be read (" + catalog.error().display() + ")";
      if (!strict_error && !strict_doc) strict_doc = std::move(d);
      return std::nullopt;
    }
    return d;
  };

  // A rejected password is not damage: no repair can change it.
  auto rejected = [](const std::optional<Error>& e) { return e && e->kind == ErrorKind::InvalidPassword; };
  if (table && looped) {
    // The chain may have missed older sections: objects it does not list
    // are taken from a scan of the file; what it lists (free entries too) stands.
    ScannedFile scan = scan_file(data);
    size_t before = table.value().entries.size();
    for (const auto& [num, entry] : scan.entries) table.value().entries.emplace(num, entry);
    size_t added = table.value().entries.size() - before;
    if (std::optional<Document> opened = attempt(std::move(table).value(), header)) {
      if (added > 0)
        opened->note_ = "the /Prev chain of cross-reference sections loops; " + std::to_string(added) +
                        " objects it missed were taken from a scan of the file";
      return std::move(*opened);
    }
  } else if (table) {
    if (std::optional<Document> opened = attempt(std::move(table).value(), header)) return std::move(*opened);
  } else {
    strict_error = table.error();
    problem = "the cross-reference data could not be read (" + table.error().display() + ")";
  }
  if (rejected(strict_error)) return *strict_error;
  if (header > 0 && !table) {
    // Offsets counted from the header rather than from the file's start.
    if (Result<Xref> shifted = read_table(data.subspan(header)); shifted) {
      for (auto& [num, entry] : shifted.value().entries)
        if (entry.kind == XrefEntry::Kind::InFile) entry.offset += header;
      if (std::optional<Document> opened = attempt(std::move(shifted).value(), 0)) {
        opened->note_ = "the cross-reference offsets count from the %PDF- header at byte " + std::to_string(header) +
                        ", not from the start of the file; the table was read with them shifted";
        return std::move(*opened);
      }
    }
  }

  Result<Document> rebuilt = rebuild(data, password, doc.version_);
  if (rebuilt) {
    rebuilt->note_ = problem + "; the cross-reference table was rebuilt from a scan of the file";
    return rebuilt;
  }
  if (rejected(rebuilt.error())) return std::move(rebuilt).error();
  if (strict_doc) return std::move(*strict_doc);
  return strict_error ? *strict_error : std::move(rebuilt).error();
}

Result<Document> Document::rebuild(ByteSpan data, ByteSpan password, const std::string& version) {
  ScannedFile scan = scan_file(data);
  // The newest trailer that names a /Root, for /Encrypt and /ID; whether its
  // /Root is usable is known once object streams have been read.
  Dictionary trailer;
  for (auto t = scan.trailers.rbegin(); t != scan.trailers.rend(); ++t) {
    if (t->contains("Root") || t == scan.trailers.rbegin()) trailer = *t;
    if (t->contains("Root")) break;
  }
  Document doc;
  doc.version_ = version;
  Xref xref{trailer, scan.entries};
  doc.resolver_ = std::make_unique<Resolver>(data, std::move(xref));
  doc.resolver_->enable_recovery(0, std::move(scan));
  if (std::optional<Error> failed = doc.install_security(password)) return *failed;
  std::vector<uint32_t> member_catalogs = doc.resolver_->adopt_object_stream_members();

  const Resolver& resolver = *doc.resolver_;
  const ScannedFile& scanned = resolver.scanned();
  for (auto t = scanned.trailers.rbegin(); t != scanned.trailers.rend(); ++t) {
    const Object* root = t->get("Root");
    if (root && root->is_ref() && resolver.resolve_dict(*root)) {
      doc.resolver_->set_trailer(*t);
      return doc;
    }
  }
  // No trailer leads to a catalog: the last catalog object in the body, then
  // in the object streams.
  std::vector<uint32_t> catalogs(scanned.catalogs.rbegin(), scanned.catalogs.rend());
  catalogs.insert(catalogs.end(), member_catalogs.rbegin(), member_catalogs.rend());
  for (uint32_t num : catalogs) {
    Result<const Object*> obj = resolver.get(num);
    if (!obj || !has_type(*obj.value(), "Catalog")) continue;
    const XrefEntry& entry = resolver.xref().entries.at(num);
    trailer.insert("Root", Object::reference(Ref{num, entry.kind == XrefEntry::Kind::InFile ? entry.generation : uint16_t{0}}));
    doc.resolver_->set_trailer(std::move(trailer));
    return doc;
  }
  return make_error(ErrorKind::MissingTrailer, "no usable /Root found by a scan of the file");
}

Result<const Dictionary*> Document::catalog() const {
  const Object* root = resolver_->xref().trailer.get("Root");
  if (!root) return make_error(ErrorKind::MissingTrailer, "trailer has no /Root");
  return resolver_->resolve_dict(*root);
}

std::string Document::recovery_note() const {
  std::string objects = resolver_->recovery_note();
  if (objects.empty() || note_.empty()) return note_ + objects;
  return note_ + "; " + objects;
}

}  // namespace vellum
