#include "content.h"
namespace vellum {
ContentOps parse_content(ByteSpan) { return {}; }
}  // namespace vellum
