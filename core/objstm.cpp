#include "objstm.h"
namespace vellum {
Result<ObjStm> ObjStm::parse(const Dictionary&, Bytes) { return make_error(ErrorKind::InvalidObject, "objstm missing key"); }
}  // namespace vellum
