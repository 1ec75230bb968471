// Cross-reference data: classic tables, cross-reference streams, the /Prev
// chain and hybrid /XRefStm sections, merged into one Xref.
#pragma once

#include <map>

#include "syntax/lex.h"
#include "syntax/object.h"

namespace vellum {

struct XrefEntry {
  enum class Kind : uint8_t { Free, InFile, InStream };
  Kind kind = Kind::Free;
  uint64_t offset = 0;    // InFile
  uint16_t generation = 0;  // InFile
  uint32_t stream = 0;    // InStream: object number of the object stream
  uint32_t index = 0;     // InStream: position within it

  static XrefEntry free() { return {}; }
  static XrefEntry in_file(uint64_t off, uint16_t gen) { return {Kind::InFile, off, gen, 0, 0}; }
  static XrefEntry in_stream(uint32_t s, uint32_t i) { return {Kind::InStream, 0, 0, s, i}; }
};

using XrefEntries = std::map<uint32_t, XrefEntry>;

struct XrefSection {
  XrefEntries entries;
  Dictionary trailer;
};

struct Xref {
  Dictionary trailer;
  XrefEntries entries;
};

// `looped`, when given, is set when the /Prev chain came back to a section
// already read (the walk ends there, and older sections may be missed).
Result<Xref> read_xref(ByteSpan data, bool* looped = nullptr);
// Insert the section's entries whose numbers are not present yet.
void merge_entries(Xref& xref, const XrefSection& section);
// Unsigned 32-bit decimal token; errors are of kind InvalidXref.
Result<uint32_t> read_uint(Lexer& lexer);
Result<XrefSection> parse_xref_stream(ByteSpan data, uint64_t offset);

}  // namespace vellum
