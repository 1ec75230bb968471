// The three renderings byte for byte: Markdown blocks and separators, the
// HTML frame with rounded page sizes and escaping, the JSON layout (by its
// indentation rule) with its string escapes and floats in each notation. That
// every float reads back to the same double is checked on every corpus file
// (tests/test_corpus.py compares the JSON, read by Python, with the dict).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "extract/serialize.h"

namespace vellum {
namespace {

const double kInf = std::numeric_limits<double>::infinity();

PageText page(std::vector<std::string> lines, std::vector<Table> tables = {}, bool needs_ocr = false,
              double width = 612, double height = 792) {
  PageText p;
  p.width = width;
  p.height = height;
  for (auto& t : lines) p.lines.push_back(Line{std::move(t), 72, 700});
  p.tables = std::move(tables);
  p.needs_ocr = needs_ocr;
  return p;
}
ExtractedDoc doc(std::vector<PageText> pages) { return ExtractedDoc{"1.4", std::move(pages)}; }

TEST(Markdown, Documents) {
  const std::string ocr = "_[scanned page \xE2\x80\x94 text extraction requires OCR]_";
  const std::pair<ExtractedDoc, std::string> cases[] = {
      {doc({}), ""},
      {doc({page({}), page({})}), "\n\n---\n\n"},
      {doc({page({"gone"}, {Table{1, 1, {{"x"}}}}, true), page({"next"})}), ocr + "\n\n---\n\nnext"},
      // Rows print the cells they hold; only the rule uses cols.
      {doc({page({}, {Table{2, 3, {{"a", "b"}, {"c", "d", "e", "f"}}}})}),
       "| a | b |\n| --- | --- | --- |\n| c | d | e | f |"},
      {doc({page({"t"}, {Table{0, 2, {}}, Table{1, 1, {{"x"}}}})}), "t\n\n| x |\n| --- |"},
      // A single empty line is an empty text block; two are a line feed.
      {doc({page({""}, {Table{1, 1, {{"x"}}}})}), "| x |\n| --- |"},
      {doc({page({"", ""}, {Table{1, 1, {{"x"}}}})}), "\n\n\n| x |\n| --- |"},
      {doc({page({"# *a* _b_", "- c"}, {Table{1, 1, {{"l1\nl2 ||"}}}})}), "# *a* _b_\n- c\n\n| l1\nl2 \\|\\| |\n| --- |"},
  };
  for (const auto& [document, markdown] : cases) EXPECT_EQ(to_markdown(document), markdown);
}

TEST(Html, Documents) {
  const std::string head = "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>vellum</title></head>\n<body>\n";
  const std::string tail = "</body>\n</html>\n";
  PageText scanned = page({}, {Table{1, 1, {{"c"}}}}, true);
  scanned.images.push_back(ParsedImage{"Im0", ImageFormat::Jpeg, 10, 10, 8, "DeviceRGB"});  // never written
  const std::pair<ExtractedDoc, std::string> cases[] = {
      {doc({}), ""},
      {doc({page({"a&&<b>\"c'\xC3\xA9"})}), "<section class=\"page\" style=\"width:612px;height:792px\">\n"
                                             "<p>a&amp;&amp;&lt;b&gt;&quot;c&#39;\xC3\xA9</p>\n</section>\n"},
      {doc({scanned}),
       "<section class=\"page\" style=\"width:612px;height:792px\" data-needs-ocr=\"true\">\n"
       "<table>\n<tr><td>c</td></tr>\n</table>\n</section>\n"},
      {doc({page({"l"}, {Table{0, 0, {}}, Table{5, 5, {{}, {"a<", "b"}}}}, false, 595.28, 841.89), page({}, {}, false, 1, 2)}),
       "<section class=\"page\" style=\"width:595px;height:842px\">\n<p>l</p>\n<table>\n</table>\n"
       "<table>\n<tr></tr>\n<tr><td>a&lt;</td><td>b</td></tr>\n</table>\n</section>\n"
       "<section class=\"page\" style=\"width:1px;height:2px\">\n</section>\n"},
  };
  for (const auto& [document, body] : cases) EXPECT_EQ(to_html(document), head + body + tail);
}

// Page sizes: exact value rounded half to even, full decimal, no exponent.
TEST(Html, PageSizeRounding) {
  char huge[400];
  std::snprintf(huge, sizeof huge, "%.0f", std::numeric_limits<double>::max());
  const std::pair<double, std::string> cases[] = {
      {612.5, "612"}, {613.5, "614"}, {-0.3, "-0"},
      {0.49999999999999994, "0"},  // adding 0.5 first would give 1
      {1e22, "10000000000000000000000"}, {std::numeric_limits<double>::max(), huge}, {std::nan(""), "NaN"}, {-kInf, "-inf"},
  };
  for (const auto& [v, text] : cases) {
    std::string out = to_html(doc({page({}, {}, false, v, 1)}));
    EXPECT_NE(out.find("style=\"width:" + text + "px;height:1px\""), std::string::npos) << v;
  }
}

std::string json_float(double v) {
  std::string out;
  append_json_float(out, v);
  return out;
}

TEST(JsonFloat, Examples) {
  const std::pair<double, const char*> cases[] = {
      {612.0, "612.0"}, {0.1, "0.1"}, {-2.5, "-2.5"}, {0.00001, "0.00001"}, {0.000001, "1e-6"},
      {1e15, "1000000000000000.0"}, {1e16, "1e+16"}, {1.2345678901234568e17, "1.2345678901234568e+17"},
      {5e-324, "5e-324"}, {-0.0, "-0.0"}, {std::nan(""), "null"}, {kInf, "null"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(json_float(v), text) << v;
}

// The layout: two spaces per level of nesting, one value per line, empty
// containers as "[]"; the values, written without that layout, in full.
TEST(Json, Documents) {
  // The line's text holds every kind of escape: quote, backslash, control
  // characters with and without a short form, NUL, DEL and UTF-8 as they are.
  const std::string escapes = "q\"b\\t\t1\x01" + std::string("\0\x1f\x0b", 3) + "/\x7F\xC3\xA9 \xE2\x80\x94";
  PageText p = page({escapes}, {Table{0, 2, {{}, {"a", "b"}}}, Table{0, 0, {}}}, true, kInf, 841.89);
  p.lines[0].x = 72.5;
  p.lines[0].y = std::nan("");
  p.images.push_back(ParsedImage{"Im\"1", ImageFormat::Jbig2, 4294967295u, 0, 1, "ICCBased"});
  EXPECT_EQ(to_json(doc({})), "{\n  \"version\": \"1.4\",\n  \"pages\": []\n}");
  const std::string json = to_json(doc({p}));
  std::string flat;
  int depth = 0;
  for (size_t start = 0, end; start < json.size(); start = end + 1) {
    end = std::min(json.find('\n', start), json.size());
    const std::string line = json.substr(start, end - start);
    const size_t indent = line.find_first_not_of(' ');
    depth -= line[indent] == ']' || line[indent] == '}';
    EXPECT_EQ(indent, 2u * depth) << line;
    depth += line.back() == '[' || line.back() == '{';
    flat += line.substr(indent);
  }
  EXPECT_EQ(depth, 0);
  EXPECT_EQ(flat,
            R"({"version": "1.4","pages": [{"width": null,"height": 841.89,"lines": [)"
            R"({"text": "q\"b\\t\t1\u0001\u0000\u001f\u000b/)" "\x7F\xC3\xA9 \xE2\x80\x94" R"(","x": 72.5,"y": null}],)"
            R"("needs_ocr": true,"tables": [{"rows": 0,"cols": 2,"cells": [[],["a","b"]]},{"rows": 0,)"
            R"("cols": 0,"cells": []}],"images": [{"name": "Im\"1","format": "Jbig2","width": 4294967295,)"
            R"("height": 0,"bits_per_component": 1,"color_space": "ICCBased"}]}]})");
}

}  // namespace
}  // namespace vellum
