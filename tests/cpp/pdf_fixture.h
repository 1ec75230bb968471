// Builds small PDF files in memory for tests: objects are given as their
// body text, offsets and the classic cross-reference table are computed.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file/doc.h"
#include "file/resolver.h"
#include "syntax/cos.h"
#include "file/xref.h"

namespace vellum::testing {

class PdfFixture {
 public:
  static constexpr const char* kHeader = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n";

  // `body` is what stands between "n 0 obj" and "endobj".
  PdfFixture& object(uint32_t num, std::string body) {
    objects_[num] = std::move(body);
    return *this;
  }
  PdfFixture& stream(uint32_t num, std::string dict_entries, std::string data) {
    return object(num, "<< " + dict_entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
                           "\nendstream");
  }
  PdfFixture& trailer(std::string entries) {
    trailer_ = std::move(entries);
    return *this;
  }
  // Everything before the first object (offsets follow it).
  PdfFixture& header(std::string text) {
    header_ = std::move(text);
    return *this;
  }

  std::string build() const {
    std::string out = header_;
    std::map<uint32_t, size_t> offsets;
    for (const auto& [num, body] : objects_) {
      offsets[num] = out.size();
      out += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
    }
    const uint32_t size = objects_.empty() ? 1 : objects_.rbegin()->first + 1;
    const size_t xref_at = out.size();
    out += "xref\n0 " + std::to_string(size) + "\n";
    for (uint32_t n = 0; n < size; ++n) {
      auto it = offsets.find(n);
      char line[32];
      std::snprintf(line, sizeof line, "%010zu %s \n", it == offsets.end() ? size_t{0} : it->second,
                    it == offsets.end() ? "65535 f" : "00000 n");
      out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(size) + " " + trailer_ + " >>\nstartxref\n" +
           std::to_string(xref_at) + "\n%%EOF\n";
    return out;
  }

  // A one-page document whose page has `page_entries` (e.g. "/Contents 4 0 R").
  static PdfFixture one_page(std::string page_entries) {
    PdfFixture f;
    f.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page_entries + " >>")
        .trailer("/Root 1 0 R");
    return f;
  }

 private:
  std::map<uint32_t, std::string> objects_;
  std::string trailer_ = "/Root 1 0 R";
  std::string header_ = kHeader;
};

// A built fixture together with a resolver over it (a failed test when its
// cross-reference table does not read).
class OpenFixture {
 public:
  explicit OpenFixture(const PdfFixture& f) : file_(f.build()) {
    auto xref = read_xref(as_bytes(file_));
    if (xref) {
      resolver_.emplace(as_bytes(file_), std::move(xref.value()));
    } else {
      ADD_FAILURE() << xref.error().display();
    }
  }
  OpenFixture(const OpenFixture&) = delete;

  const Resolver& resolver() const { return *resolver_; }
  // Object `num` as a dictionary (a stream's dictionary), or a failed test.
  const Dictionary& dict(uint32_t num) const {
    static const Dictionary kEmpty;
    auto got = resolver_->get(num);
    if (got && (*got)->dict_or_stream_dict()) return *(*got)->dict_or_stream_dict();
    ADD_FAILURE() << "object " << num << " is not a dictionary";
    return kEmpty;
  }

 private:
  std::string file_;
  std::optional<Resolver> resolver_;
};

// `text` parsed as one dictionary (an empty one and a failed test if it is not).
inline Dictionary parse_dict(std::string_view text) {
  Lexer lexer(as_bytes(text));
  Result<Object> obj = parse_object(lexer);
  if (obj.ok() && obj->is_dict()) return obj->as_dict();
  ADD_FAILURE() << "not a dictionary: " << text;
  return {};
}

}  // namespace vellum::testing
