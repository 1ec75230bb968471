#include "resolver.h"
namespace vellum {
Resolver::Resolver(ByteSpan file, Xref xref) : file_(file), xref_(std::move(xref)) {}
Result<const Object*> Resolver::get(uint32_t) const { return make_error(ErrorKind::ObjectNotFound, "no such object"); }
Result<const Dictionary*> Resolver::resolve_dict(const Object& obj) const {
  if (const Dictionary* d = obj.dict_or_stream_dict()) return d;
  return make_error(ErrorKind::InvalidObject, "expected dictionary");
}
const Object* Resolver::deref(const Object& obj) const { return obj.is_ref() ? nullptr : &obj; }
std::optional<int64_t> Resolver::declared_length(const Dictionary&) const { return std::nullopt; }
void Resolver::install_decryptor(Decryptor d, std::optional<uint32_t> n) { decryptor_ = std::move(d); encrypt_num_ = n; }
}  // namespace vellum
