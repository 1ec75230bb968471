// Reconstruction of a damaged file's cross-reference data from one scan of
// its bytes, for the reader's default (recovering) mode. Nothing here runs
// unless reading the file's own cross-reference data failed.
#pragma once

#include <vector>

#include "syntax/object.h"
#include "file/objstm.h"
#include "file/xref.h"

namespace vellum {

struct ScannedFile {
  // Every `N G obj` header found, as an in-file entry; a later definition of
  // a number replaces an earlier one, as incremental updates append.
  XrefEntries entries;
  // Objects (final definitions only) whose dictionary has /Type /ObjStm,
  // and those with /Type /Catalog, in file order.
  std::vector<uint32_t> object_streams;
  std::vector<uint32_t> catalogs;
  // `trailer` dictionaries and cross-reference-stream dictionaries, in file
  // order (the last is the newest).
  std::vector<Dictionary> trailers;
};

// One linear pass over `data`: the object headers by a search for the `obj`
// keyword, then the few objects and trailers worth parsing, each parsed only
// up to the next object header. Time linear in the file, memory linear in
// what is found.
ScannedFile scan_file(ByteSpan data);

// The numbers of the objects in an object stream whose text has a /Catalog
// name, found by one search of the decoded data.
std::vector<uint32_t> catalogs_in(const ObjStm& stm);

}  // namespace vellum
