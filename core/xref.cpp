#include "xref.h"
namespace vellum {
Result<Xref> read_xref(ByteSpan) { return make_error(ErrorKind::InvalidXref, "no startxref"); }
void merge_entries(Xref&, const XrefSection&) {}
Result<uint32_t> read_uint(Lexer&) { return make_error(ErrorKind::InvalidXref, "expected integer"); }
Result<XrefSection> parse_xref_stream(ByteSpan, uint64_t) { return make_error(ErrorKind::InvalidXref, "xref decode"); }
}  // namespace vellum
