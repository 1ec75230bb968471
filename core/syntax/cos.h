// The object parser: PDF object syntax to Object values.
#pragma once

#include "syntax/lex.h"
#include "syntax/object.h"

namespace vellum {

// Arrays and dictionaries nest by recursion; deeper nesting than this fails
// with "nesting too deep" (UnexpectedToken) instead of exhausting the stack.
inline constexpr int kMaxNestingDepth = 256;

// Parse one object at the lexer's position; the position ends just after it.
Result<Object> parse_object(Lexer& lexer);
// Called with the position on the first '<' of "<<".
Result<Dictionary> parse_dictionary(Lexer& lexer);

}  // namespace vellum
