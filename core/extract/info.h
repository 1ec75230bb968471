// What a document says about itself, read without decoding any page
// content: page count, version, encryption, the document information
// dictionary and the outline (bookmarks).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "file/doc.h"
#include "syntax/object.h"

namespace vellum {

// Outline levels deeper than this are not listed (their items are skipped,
// the rest of the outline is kept).
inline constexpr int kMaxOutlineDepth = 64;

struct OutlineItem {
  std::string title;          // UTF-8
  int level = 1;              // 1 for the top level
  std::optional<size_t> page;  // 0-based; none when the target is not a page of this document
};

struct DocumentInfo {
  size_t page_count = 0;
  std::string version;
  bool encrypted = false;
  // "RC4-40", "RC4-128", "AES-128", "AES-256"; none when not encrypted or
  // when the encryption dictionary could not be used.
  std::optional<std::string> encryption;
  std::optional<std::string> title, author, subject, keywords, creator, producer;  // UTF-8
  std::optional<std::string> creation_date, modification_date;                    // ISO 8601
  std::vector<OutlineItem> outline;                                                // document order
};

// Page tree failures (the only ones that make a page count impossible) are
// errors; a broken information dictionary or outline only leaves its parts
// out.
Result<DocumentInfo> read_info(const Document& doc);

// The document's /Title as UTF-8, empty when there is none.
std::string document_title(const Document& doc);

// A PDF text string (ISO 32000-1 section 7.9.2.2) as UTF-8: UTF-16BE after a
// FE FF mark, UTF-8 after EF BB BF (PDF 2.0), PDFDocEncoding otherwise.
// UTF-16 language escapes (U+001B ... U+001B) are dropped.
std::string decode_text_string(std::string_view bytes);

// A PDF date (section 7.9.4, "D:YYYYMMDDHHmmSSOHH'mm'") as ISO 8601:
// "YYYY-MM-DDTHH:MM:SS" with "+HH:MM" / "-HH:MM" when the date gives its
// offset from UT ("Z" is written "+00:00"). Omitted fields take their
// defaults (month and day 01, time 00). None when the text is not such a date.
std::optional<std::string> iso_date(std::string_view text);

}  // namespace vellum
