#include "cos.h"
namespace vellum {
Result<Object> parse_object(Lexer&) { return make_error(ErrorKind::Unsupported, "not yet"); }
Result<Dictionary> parse_dictionary(Lexer&) { return make_error(ErrorKind::Unsupported, "not yet"); }
}  // namespace vellum
