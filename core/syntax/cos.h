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
// The same, taking one from items_left for every object read (the elements
// of arrays and dictionaries included) and failing once none are left, so
// that the caller bounds the memory a run of parses may hold.
Result<Object> parse_object(Lexer& lexer, uint64_t& items_left);
// Called with the position on the first '<' of "<<".
Result<Dictionary> parse_dictionary(Lexer& lexer);

}  // namespace vellum
