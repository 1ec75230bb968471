// Opening a document.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "syntax/object.h"
#include "file/resolver.h"

namespace vellum {

class Document {
 public:
  static Result<Document> parse_with_password(ByteSpan data, ByteSpan password);

  Result<const Dictionary*> catalog() const;

  const Resolver& resolver() const { return *resolver_; }
  const std::string& version() const { return version_; }

 private:
  std::unique_ptr<Resolver> resolver_;
  std::string version_;
};

}  // namespace vellum
