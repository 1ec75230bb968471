// The three text renderings of an extracted document: Markdown, a standalone
// HTML page and pretty-printed JSON.
//
// Each renderer writes into one growing string, reserved from a cheap size
// estimate, and escapes text straight into it: no per-piece temporaries, so
// the cost is linear in the output. The image payload is never written.
//
// Numbers: HTML page sizes are rounded half-to-even and printed in full
// decimal (no exponent, however large); JSON floats use the shortest digits
// that read back to the same double (std::to_chars), laid out in plain
// notation for decimal exponents -5..15 and in scientific notation otherwise.
#include "extract/serialize.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vellum {
namespace {

// ------------------------------------------------------------ Markdown

constexpr std::string_view kPageSeparator = "\n\n---\n\n";
constexpr std::string_view kBlockSeparator = "\n\n";
constexpr std::string_view kOcrPlaceholder = "_[scanned page \xE2\x80\x94 text extraction requires OCR]_";

// Rough output size: the texts plus a few bytes of framing per piece.
size_t estimate_size(const ExtractedDoc& doc) {
  size_t n = 64;
  for (const PageText& page : doc.pages) {
    n += 96;
    for (const Line& line : page.lines) n += line.text.size() + 16;
    for (const Table& table : page.tables) {
      for (const auto& row : table.cells) {
        n += 16;
        for (const std::string& cell : row) n += cell.size() + 16;
      }
    }
    n += page.images.size() * 160;
  }
  return n;
}

void append_markdown_row(std::string& out, const std::vector<std::string>& row) {
  out += "| ";
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) out += " | ";
    const std::string& cell = row[i];
    size_t start = 0;
    for (size_t bar = cell.find('|'); bar != std::string::npos; bar = cell.find('|', start)) {
      out.append(cell, start, bar - start);
      out += "\\|";
      start = bar + 1;
    }
    out.append(cell, start, std::string::npos);
  }
  out += " |";
}

void append_markdown_rule(std::string& out, uint64_t cols) {
  out += "| ";
  for (uint64_t i = 0; i < cols; ++i) {
    if (i > 0) out += " | ";
    out += "---";
  }
  out += " |";
}

void append_markdown_page(std::string& out, const PageText& page) {
  if (page.needs_ocr) {
    out += kOcrPlaceholder;
    return;
  }
  // Blocks are separated by a blank line; empty blocks are dropped.
  bool wrote_block = false;
  auto begin_block = [&] {
    if (wrote_block) out += kBlockSeparator;
    wrote_block = true;
  };

  // The page text (its lines joined by line feeds) is empty only when there
  // is no line or a single empty one.
  bool text_empty = page.lines.empty() || (page.lines.size() == 1 && page.lines[0].text.empty());
  if (!text_empty) {
    begin_block();
    for (size_t i = 0; i < page.lines.size(); ++i) {
      if (i > 0) out += '\n';
      out += page.lines[i].text;
    }
  }

  for (const Table& table : page.tables) {
    bool has_rule = table.rows != 0 && table.cols != 0;
    if (table.cells.empty() && !has_rule) continue;
    begin_block();
    if (table.cells.empty()) {
      append_markdown_rule(out, table.cols);
      continue;
    }
    for (size_t r = 0; r < table.cells.size(); ++r) {
      if (r > 0) out += '\n';
      append_markdown_row(out, table.cells[r]);
      if (r == 0 && has_rule) {
        out += '\n';
        append_markdown_rule(out, table.cols);
      }
    }
  }
}

// ---------------------------------------------------------------- HTML

constexpr std::string_view kHtmlHeadStart = "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>";
constexpr std::string_view kHtmlHeadEnd = "</title></head>\n<body>\n";
constexpr std::string_view kHtmlTail = "</body>\n</html>\n";

void append_escaped_html(std::string& out, std::string_view text) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    std::string_view entity;
    switch (text[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      case '\'': entity = "&#39;"; break;
      default: continue;
    }
    out.append(text.substr(start, i - start));
    out += entity;
    start = i + 1;
  }
  out.append(text.substr(start));
}

// A page dimension rounded to a whole number, ties to even, written in full
// decimal. Rounding works on the exact binary value, so only true ties (x.5
// exactly) are affected by the tie rule.
void append_rounded(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "inf";
    return;
  }
  // Default rounding mode: ties to even; the sign of zero is kept (-0.3 is -0).
  double r = std::nearbyint(v);
  // The largest double has 309 integer digits.
  char buf[320];
  std::to_chars_result res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed, 0);
  out.append(buf, res.ptr);
}

// ---------------------------------------------------------------- JSON

// Pretty-printer state: the current nesting level and, per level, whether a
// member has been written yet (to choose between "\n" and ",\n").
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  void open(char bracket) {
    out_ += bracket;
    ++level_;
    empty_[level_] = true;
  }
  void close(char bracket) {
    bool was_empty = empty_[level_];
    --level_;
    if (!was_empty) {
      out_ += '\n';
      indent();
    }
    out_ += bracket;
  }
  // Starts an array element.
  void element() {
    out_ += empty_[level_] ? "\n" : ",\n";
    empty_[level_] = false;
    indent();
  }
  // Starts an object member.
  void key(std::string_view name) {
    element();
    string(name);
    out_ += ": ";
  }

  void string(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out_ += '"';
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_.append(text.substr(start, i - start));
      start = i + 1;
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\b': out_ += "\\b"; break;
        case '\t': out_ += "\\t"; break;
        case '\n': out_ += "\\n"; break;
        case '\f': out_ += "\\f"; break;
        case '\r': out_ += "\\r"; break;
        default: {
          char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
          out_.append(esc, sizeof esc);
        }
      }
    }
    out_.append(text.substr(start));
    out_ += '"';
  }
  void integer(uint64_t v) {
    char buf[24];
    std::to_chars_result res = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, res.ptr);
  }
  void number(double v) { append_json_float(out_, v); }
  void boolean(bool v) { out_ += v ? "true" : "false"; }

 private:
  void indent() { out_.append(2 * static_cast<size_t>(level_), ' '); }

  // The document nests at most seven deep (cells of a table of a page).
  static constexpr int kMaxDepth = 8;
  std::string& out_;
  int level_ = 0;
  bool empty_[kMaxDepth + 1] = {};
};

void write_json_page(JsonWriter& w, const PageText& page) {
  w.open('{');
  w.key("width");
  w.number(page.width);
  w.key("height");
  w.number(page.height);

  w.key("lines");
  w.open('[');
  for (const Line& line : page.lines) {
    w.element();
    w.open('{');
    w.key("text");
    w.string(line.text);
    w.key("x");
    w.number(line.x);
    w.key("y");
    w.number(line.y);
    w.close('}');
  }
  w.close(']');

  w.key("needs_ocr");
  w.boolean(page.needs_ocr);

  w.key("tables");
  w.open('[');
  for (const Table& table : page.tables) {
    w.element();
    w.open('{');
    w.key("rows");
    w.integer(table.rows);
    w.key("cols");
    w.integer(table.cols);
    w.key("cells");
    w.open('[');
    for (const auto& row : table.cells) {
      w.element();
      w.open('[');
      for (const std::string& cell : row) {
        w.element();
        w.string(cell);
      }
      w.close(']');
    }
    w.close(']');
    w.close('}');
  }
  w.close(']');

  w.key("images");
  w.open('[');
  for (const ParsedImage& image : page.images) {
    w.element();
    w.open('{');
    w.key("name");
    w.string(image.name);
    w.key("format");
    w.string(format_name(image.format));
    w.key("width");
    w.integer(image.width);
    w.key("height");
    w.integer(image.height);
    w.key("bits_per_component");
    w.integer(image.bits_per_component);
    w.key("color_space");
    w.string(image.color_space);
    w.close('}');
  }
  w.close(']');
  w.close('}');
}

}  // namespace

std::string to_markdown(const ExtractedDoc& doc) {
  std::string out;
  out.reserve(estimate_size(doc));
  for (size_t i = 0; i < doc.pages.size(); ++i) {
    if (i > 0) out += kPageSeparator;
    append_markdown_page(out, doc.pages[i]);
  }
  return out;
}

std::string to_html(const ExtractedDoc& doc, std::string_view title) {
  std::string out;
  out.reserve(kHtmlHeadStart.size() + title.size() + kHtmlHeadEnd.size() + kHtmlTail.size() + estimate_size(doc));
  out += kHtmlHeadStart;
  // Control characters (a title's line breaks, stray NULs) become spaces:
  // the title is one line of text.
  size_t title_at = out.size();
  append_escaped_html(out, title);
  for (size_t i = title_at; i < out.size(); ++i) {
    if (static_cast<uint8_t>(out[i]) < 0x20) out[i] = ' ';
  }
  out += kHtmlHeadEnd;
  for (const PageText& page : doc.pages) {
    out += "<section class=\"page\" style=\"width:";
    append_rounded(out, page.width);
    out += "px;height:";
    append_rounded(out, page.height);
    out += "px\"";
    if (page.needs_ocr) out += " data-needs-ocr=\"true\"";
    out += ">\n";
    for (const Line& line : page.lines) {
      out += "<p>";
      append_escaped_html(out, line.text);
      out += "</p>\n";
    }
    for (const Table& table : page.tables) {
      out += "<table>\n";
      for (const auto& row : table.cells) {
        out += "<tr>";
        for (const std::string& cell : row) {
          out += "<td>";
          append_escaped_html(out, cell);
          out += "</td>";
        }
        out += "</tr>\n";
      }
      out += "</table>\n";
    }
    out += "</section>\n";
  }
  out += kHtmlTail;
  return out;
}

std::string to_json(const ExtractedDoc& doc) {
  std::string out;
  out.reserve(128 + 2 * estimate_size(doc));
  JsonWriter w(out);
  w.open('{');
  w.key("version");
  w.string(doc.version);
  w.key("pages");
  w.open('[');
  for (const PageText& page : doc.pages) {
    w.element();
    write_json_page(w, page);
  }
  w.close(']');
  w.close('}');
  return out;
}

std::string escape_html(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_escaped_html(out, text);
  return out;
}

void append_json_float(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (value == 0) {
    out += std::signbit(value) ? "-0.0" : "0.0";
    return;
  }
  // Shortest round-trip digits in scientific form: "-d.ddde+XX" / "de-X".
  char sci[32];
  std::to_chars_result res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* p = sci;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[20];
  int n = 0;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p != '.') digits[n++] = *p;
  }
  int exp = 0;
  std::from_chars(p + 1 + (p[1] == '+'), res.ptr, exp);

  if (exp >= -5 && exp <= 15) {
    if (exp < 0) {
      out += "0.";
      out.append(static_cast<size_t>(-exp - 1), '0');
      out.append(digits, n);
    } else if (exp < n - 1) {
      out.append(digits, exp + 1);
      out += '.';
      out.append(digits + exp + 1, n - exp - 1);
    } else {
      out.append(digits, n);
      out.append(static_cast<size_t>(exp - n + 1), '0');
      out += ".0";
    }
    return;
  }
  out += digits[0];
  if (n > 1) {
    out += '.';
    out.append(digits + 1, n - 1);
  }
  out += exp > 0 ? "e+" : "e-";
  char ebuf[8];
  std::to_chars_result er = std::to_chars(ebuf, ebuf + sizeof ebuf, exp < 0 ? -exp : exp);
  out.append(ebuf, er.ptr);
}

}  // namespace vellum
