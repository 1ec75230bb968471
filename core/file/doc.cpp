// Opening a document: header, cross-reference chain, trailer, security
// handler.
#include "file/doc.h"

#include <cstring>

namespace vellum {

Result<Document> Document::parse_with_password(ByteSpan data, ByteSpan password) {
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

  VELLUM_TRY(Xref xref, read_xref(data));
  if (!xref.trailer.contains("Root")) return make_error(ErrorKind::MissingTrailer, "trailer has no /Root");
  doc.resolver_ = std::make_unique<Resolver>(data, std::move(xref));
  const Resolver& resolver = *doc.resolver_;
  const Dictionary& trailer = resolver.xref().trailer;

  if (const Object* encrypt = trailer.get("Encrypt")) {
    std::optional<uint32_t> encrypt_num;
    if (encrypt->is_ref()) encrypt_num = encrypt->as_ref().num;
    VELLUM_TRY(const Dictionary* encrypt_dict, resolver.resolve_dict(*encrypt));
    ByteSpan id;
    if (const std::vector<Object>* ids = trailer.get_array("ID"); ids && !ids->empty() && (*ids)[0].is_string())
      id = as_bytes((*ids)[0].as_string());
    VELLUM_TRY(std::optional<Decryptor> decryptor, Decryptor::open(*encrypt_dict, id, password));
    if (decryptor) doc.resolver_->install_decryptor(std::move(*decryptor), encrypt_num);
  }
  return doc;
}

Result<const Dictionary*> Document::catalog() const {
  const Object* root = resolver_->xref().trailer.get("Root");
  if (!root) return make_error(ErrorKind::MissingTrailer, "trailer has no /Root");
  return resolver_->resolve_dict(*root);
}

}  // namespace vellum
