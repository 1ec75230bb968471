// Opening a document, and the extraction driver.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "object.h"
#include "resolver.h"
#include "serialize.h"

namespace vellum {

class Document {
 public:
  static Result<Document> parse_with_password(ByteSpan data, ByteSpan password);

  Result<const Dictionary*> catalog() const;
  Result<ExtractedDoc> extract() const;

  const Resolver& resolver() const { return *resolver_; }
  const std::string& version() const { return version_; }

 private:
  std::unique_ptr<Resolver> resolver_;
  std::string version_;
};

}  // namespace vellum
