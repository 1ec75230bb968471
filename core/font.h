// Fonts of a page: ToUnicode map, simple encoding, widths; decoding of shown
// strings into text and advance.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <unordered_map>

#include "cmap.h"
#include "object.h"
#include "resolver.h"

namespace vellum {

// Glyph widths (already divided by 1000). Single codes and ranges: a /W
// range over 2^32 codes is kept as one range, in constant space.
class WidthMap {
 public:
  void insert(uint32_t code, double width);
  void insert_range(uint32_t first, uint32_t last, double width);
  std::optional<double> find(uint32_t code) const;
  bool empty() const;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

struct Font {
  std::shared_ptr<const CMap> to_unicode;  // null when absent
  WidthMap widths;
  std::array<uint32_t, 256> encoding{};
  double default_width = 0.5;
  bool two_byte = false;

  // Appends the text of `s` to `out`; returns the total advance (unscaled text space).
  double show_into(ByteSpan s, std::string& out, double tc, double tw, double tfs, double th) const;
};

using FontMap = std::unordered_map<std::string, std::shared_ptr<const Font>>;

// Parsed fonts shared across the pages of one document, keyed by the font
// dictionary's object number: loading the same font object gives the same result.
struct FontCache {
  std::unordered_map<uint32_t, std::shared_ptr<const Font>> by_object;
};

FontMap load_fonts(const Resolver& resolver, const Dictionary& resources, FontCache* cache = nullptr);
Font load_font(const Resolver& resolver, const Dictionary& font_dict);
std::array<uint32_t, 256> simple_encoding(const Resolver& resolver, const Dictionary& font_dict);
const std::vector<Object>* resolve_array(const Resolver& resolver, const Dictionary& dict, std::string_view key);
void insert_width(WidthMap& widths, int64_t code, const Object& value);

}  // namespace vellum
