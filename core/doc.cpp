#include "doc.h"
namespace vellum {
Result<Document> Document::parse_with_password(ByteSpan, ByteSpan) { return make_error(ErrorKind::InvalidHeader, "no %PDF- header"); }
Result<const Dictionary*> Document::catalog() const { return make_error(ErrorKind::MissingTrailer, "trailer has no /Root"); }
Result<ExtractedDoc> Document::extract() const { return ExtractedDoc{version_, {}}; }
}  // namespace vellum
