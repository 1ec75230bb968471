// The resolver: object numbers to objects, through the cross-reference data,
// the object-stream cache and the optional decryptor.
//
// Sharing instead of copying: every object the resolver has read lives in its
// cache for the life of the resolver and is handed out as a const pointer.
// Callers that need to change an object copy it first. Pointers returned by
// get() and resolve_dict() stay valid as long as the Resolver (and, for
// resolve_dict of a direct object, as long as that object).
#pragma once

#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "file/crypt.h"
#include "syntax/lex.h"
#include "syntax/object.h"
#include "file/objstm.h"
#include "file/recover.h"
#include "file/xref.h"

namespace vellum {

class Resolver {
 public:
  Resolver(ByteSpan file, Xref xref);

  Result<const Object*> get(uint32_t num) const;
  // A Reference is looked up; a Dictionary is itself; a Stream yields its
  // dictionary; anything else is "expected dictionary".
  Result<const Dictionary*> resolve_dict(const Object& obj) const;
  // A Reference is looked up (nullptr on error); anything else is itself.
  const Object* deref(const Object& obj) const;
  std::optional<int64_t> declared_length(const Dictionary& dict) const;

  void install_decryptor(Decryptor decryptor, std::optional<uint32_t> encrypt_num);

  // Recovery (the default reading; strict reading never calls these). An
  // entry that does not lead to its object is tried again counted from the
  // %PDF- header at `header_offset` (when not 0), then at the place a scan of
  // the file finds it (`scanned`, or a scan made on first need).
  void enable_recovery(size_t header_offset, std::optional<ScannedFile> scanned = std::nullopt);
  // The scan of the file (made now if not yet made).
  const ScannedFile& scanned() const;
  // For a rebuilt table: the members of the object streams the scan found
  // become entries, where the file body does not define the same number.
  // Returns the members whose text names /Catalog.
  std::vector<uint32_t> adopt_object_stream_members();
  void set_trailer(Dictionary trailer) { xref_.trailer = std::move(trailer); }
  // What recovery did for single objects, or "" (e.g. "2 objects were not at
  // their recorded offsets").
  std::string recovery_note() const;

  const Xref& xref() const { return xref_; }
  ByteSpan file() const { return file_; }
  const Decryptor* decryptor() const { return decryptor_ ? &*decryptor_ : nullptr; }

 private:
  Result<const Object*> load(uint32_t num) const;
  Result<Object> read_entry(uint32_t num, const XrefEntry& entry) const;
  Result<Object> read_in_file(uint32_t num, uint64_t offset) const;
  Result<Object> recover_object(uint32_t num, const XrefEntry& entry, Error error) const;
  const XrefEntry* scanned_entry(uint32_t num) const;
  // The members of the scanned object streams; the last stream to hold a number wins.
  const XrefEntries& scanned_members() const;
  Result<const ObjStm*> objstm(uint32_t stream_num) const;
  Result<std::unique_ptr<ObjStm>> load_objstm(uint32_t stream_num) const;

  ByteSpan file_;
  Xref xref_;
  std::optional<Decryptor> decryptor_;
  std::optional<uint32_t> encrypt_num_;
  mutable std::unordered_map<uint32_t, std::unique_ptr<Object>> cache_;
  mutable std::unordered_map<uint32_t, std::unique_ptr<ObjStm>> objstm_cache_;
  mutable std::unordered_set<uint32_t> in_progress_;
  // Lookups that failed, remembered so that a broken object referenced many
  // times is read once; failures that depend on the chain of lookups in
  // progress (a cycle, the depth limit) are not remembered.
  mutable std::unordered_map<uint32_t, Error> failed_;
  mutable std::unordered_map<uint32_t, Error> failed_objstm_;
  mutable uint64_t chain_failures_ = 0;  // cycle and depth failures so far

  bool recovering_ = false;
  size_t header_offset_ = 0;
  mutable std::optional<ScannedFile> scanned_;
  mutable std::optional<XrefEntries> members_;
  mutable std::vector<uint32_t> member_catalogs_;
  mutable uint64_t shifted_ = 0;    // objects found counted from the header
  mutable uint64_t relocated_ = 0;  // objects found where the scan saw them
};

struct ObjectHeader {
  uint32_t num;
  uint16_t gen;
};

// `n g obj`; errors are of kind InvalidObject.
Result<ObjectHeader> read_header(Lexer& lexer);
namespace resolver {
Result<uint32_t> read_uint(Lexer& lexer);
}
// Completes an object that may be a stream (the /Length window, then the
// `endstream` search). The data is borrowed from `file`.
Object assemble_stream(ByteSpan file, Lexer& lexer, Object obj, std::optional<int64_t> declared_length);

}  // namespace vellum
