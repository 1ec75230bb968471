// Opening a document.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "syntax/object.h"
#include "file/resolver.h"

namespace vellum {

// Strict reading takes the file's cross-reference data as it is and fails
// where it is broken; recovering reading (what the Python functions do by
// default) repairs what it can after such a failure.
enum class Reading : uint8_t { Strict, Recover };

class Document {
 public:
  static Result<Document> parse_with_password(ByteSpan data, ByteSpan password, Reading reading = Reading::Strict);

  Result<const Dictionary*> catalog() const;

  const Resolver& resolver() const { return *resolver_; }
  const std::string& version() const { return version_; }
  // What was wrong with the file and how it was read anyway, or "" for a
  // file read as it is. Includes what lookups made so far repaired.
  std::string recovery_note() const;

 private:
  // The security handler of the trailer's /Encrypt, if any.
  std::optional<Error> install_security(ByteSpan password);
  // A document over a table rebuilt by a scan of the file, with a usable /Root.
  static Result<Document> rebuild(ByteSpan data, ByteSpan password, const std::string& version);

  std::unique_ptr<Resolver> resolver_;
  std::string version_;
  std::string note_;  // repairs made while opening
};

}  // namespace vellum
