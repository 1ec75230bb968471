// Object streams: N pairs of (object number, offset) at the start of the
// decoded data, then the objects from /First on. Nothing is reserved from N:
// the pairs are read one by one, so an absurd /N fails at the end of the data.
#include "file/objstm.h"

namespace vellum {

namespace {
Error objstm_error(const char* message) { return make_error(ErrorKind::InvalidObject, message); }
}  // namespace

namespace objstm {

Result<uint64_t> uint(const Dictionary& dict, std::string_view key) {
  std::optional<int64_t> v = dict.get_int(key);
  if (!v) return objstm_error("objstm missing key");
  if (*v < 0) return objstm_error("objstm negative key");
  return static_cast<uint64_t>(*v);
}

Result<uint64_t> read_uint(Lexer& lexer) {
  lexer.skip_ws();
  std::string_view run = lexer.read_keyword();
  if (run.empty()) return objstm_error("objstm truncated header");
  std::optional<uint64_t> value = parse_unsigned(run, UINT64_MAX);
  if (!value) return objstm_error("objstm bad integer");
  return *value;
}

}  // namespace objstm

Result<ObjStm> ObjStm::parse(const Dictionary& dict, Bytes decoded) {
  VELLUM_TRY(uint64_t n, objstm::uint(dict, "N"));
  VELLUM_TRY(uint64_t first, objstm::uint(dict, "First"));
  ObjStm stm;
  Lexer lx(ByteSpan(decoded.data(), decoded.size()));
  for (uint64_t i = 0; i < n; ++i) {
    VELLUM_TRY(uint64_t number, objstm::read_uint(lx));
    VELLUM_TRY(uint64_t offset, objstm::read_uint(lx));
    stm.numbers.push_back(static_cast<uint32_t>(number));
    stm.offsets.push_back(offset);
  }
  stm.data = std::move(decoded);
  stm.first = first;
  return stm;
}

}  // namespace vellum
