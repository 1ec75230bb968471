// Compact Font Format (Adobe Technical Note #5176) reader for text: header,
// Name / Top DICT / String INDEXes, the top DICT's charset, Encoding,
// CharStrings and ROS operators, the charset (formats 0-2) and the encoding
// (formats 0-1, with supplements). INDEX items whose offsets fall outside the
// data read as empty; the charset is read for at most the CharStrings count
// of glyphs and the encoding for 256 codes, so a hostile count costs nothing.
#include "font/cff.h"

#include <optional>
#include <string_view>

#include "font/agl.h"
#include "font/binary.h"

namespace vellum {

namespace {

constexpr uint32_t kStandardStringCount = 391;

// An INDEX: count, offset size, offsets (1-based from the byte before the data).
class Index {
 public:
  Index(const BigEndian& in, uint64_t at) : in_(in), at_(at) {
    count_ = in.u16(at);
    if (count_ == 0) {
      end_ = at + 2;
      return;
    }
    off_size_ = in.u8(at + 2);
    if (off_size_ < 1 || off_size_ > 4) {
      count_ = 0, end_ = in.size();
      return;
    }
    data_ = at + 3 + uint64_t{count_ + 1} * off_size_ - 1;
    end_ = data_ + offset(count_);
  }
  uint32_t count() const { return count_; }
  uint64_t end() const { return end_; }  // the byte after the INDEX
  ByteSpan item(uint32_t k) const {
    if (k >= count_) return {};
    const uint64_t start = offset(k), stop = offset(k + 1);
    if (start == 0 || stop < start) return {};
    return in_.bytes(data_ + start, stop - start);
  }

 private:
  uint64_t offset(uint32_t k) const { return in_.un(at_ + 3 + uint64_t{k} * off_size_, off_size_); }
  const BigEndian& in_;
  uint64_t at_;
  uint32_t count_ = 0;
  unsigned off_size_ = 0;
  uint64_t data_ = 0, end_ = 0;
};

struct TopDict {
  uint64_t charset = 0, encoding = 0, char_strings = 0;
  bool has_char_strings = false, has_ros = false;
  uint32_t registry_sid = 0, ordering_sid = 0;
};

// The top DICT operators this reader needs; operands are integers (reals
// are skipped as zero), at most 48 per operator as the format allows.
TopDict read_top_dict(ByteSpan dict) {
  TopDict top;
  int64_t stack[48];
  size_t depth = 0;
  auto push = [&](int64_t v) {
    if (depth < std::size(stack)) stack[depth++] = v;
  };
  auto arg = [&](size_t k) -> int64_t { return k < depth ? stack[k] : 0; };
  for (size_t i = 0; i < dict.size();) {
    const uint8_t b = dict[i];
    if (b <= 21) {
      uint32_t op = b;
      ++i;
      if (b == 12) {
        op = i < dict.size() ? 1200 + dict[i] : 0;
        ++i;
      }
      const auto offset = [&](size_t k) -> uint64_t { return arg(k) > 0 ? static_cast<uint64_t>(arg(k)) : 0; };
      if (op == 15) top.charset = offset(0);
      if (op == 16) top.encoding = offset(0);
      if (op == 17) top.char_strings = offset(0), top.has_char_strings = true;
      if (op == 1230) {
        top.has_ros = true;
        top.registry_sid = static_cast<uint32_t>(offset(0) & 0xFFFF);
        top.ordering_sid = static_cast<uint32_t>(offset(1) & 0xFFFF);
      }
      depth = 0;
    } else if (b == 28 && i + 2 < dict.size()) {
      push(static_cast<int16_t>((dict[i + 1] << 8) | dict[i + 2]));
      i += 3;
    } else if (b == 29 && i + 4 < dict.size()) {
      push(static_cast<int32_t>((uint32_t{dict[i + 1]} << 24) | (uint32_t{dict[i + 2]} << 16) |
                                (uint32_t{dict[i + 3]} << 8) | dict[i + 4]));
      i += 5;
    } else if (b == 30) {
      for (++i; i < dict.size(); ++i)  // nibbles up to the 0xF terminator
        if ((dict[i] & 0x0F) == 0x0F || (dict[i] >> 4) == 0x0F) break;
      ++i;
      push(0);
    } else if (b >= 32 && b <= 246) {
      push(b - 139);
      i += 1;
    } else if (b >= 247 && b <= 250 && i + 1 < dict.size()) {
      push((b - 247) * 256 + dict[i + 1] + 108);
      i += 2;
    } else if (b >= 251 && b <= 254 && i + 1 < dict.size()) {
      push(-(b - 251) * 256 - dict[i + 1] - 108);
      i += 2;
    } else {
      ++i;  // reserved, or an operand cut off by the end
    }
  }
  return top;
}

}  // namespace

Result<CffText> parse_cff(ByteSpan data) {
  BigEndian in(data);
  if (!in.has(0, 4) || in.u8(0) != 1) return Error{ErrorKind::InvalidObject, "not a CFF font program"};
  const Index names(in, in.u8(2));
  const Index top_dicts(in, names.end());
  const Index strings(in, top_dicts.end());
  if (top_dicts.count() == 0) return Error{ErrorKind::InvalidObject, "CFF program without a top DICT"};
  const TopDict top = read_top_dict(top_dicts.item(0));

  auto string_of = [&](uint32_t sid) -> std::string_view {
    if (sid < kStandardStringCount) return cff_standard_string(sid);
    return as_chars(strings.item(sid - kStandardStringCount));
  };

  CffText text;
  if (top.has_ros) {
    text.cid_keyed = true;
    text.registry = std::string(string_of(top.registry_sid));
    text.ordering = std::string(string_of(top.ordering_sid));
    return text;  // CIDs give the text, through the collection
  }
  const uint32_t glyphs = top.has_char_strings ? Index(in, top.char_strings).count() : 0;

  // Glyph id -> string id through the charset (glyph 0 is .notdef).
  std::vector<uint16_t> glyph_sid(glyphs, 0);
  if (top.charset == 0) {  // ISOAdobe: glyph k is string k
    for (uint32_t g = 0; g < glyphs && g < 229; ++g) glyph_sid[g] = static_cast<uint16_t>(g);
  } else if (top.charset > 2) {  // 1 and 2 are the expert charsets: no text names
    const uint64_t at = top.charset;
    const uint32_t format = in.u8(at);
    uint32_t g = 1;
    if (format == 0) {
      for (; g < glyphs && in.has(at + 1 + 2 * uint64_t{g - 1}, 2); ++g)
        glyph_sid[g] = static_cast<uint16_t>(in.u16(at + 1 + 2 * uint64_t{g - 1}));
    } else if (format == 1 || format == 2) {
      const unsigned left_size = format == 1 ? 1 : 2;
      for (uint64_t range = at + 1; g < glyphs && in.has(range, 2 + left_size); range += 2 + left_size) {
        const uint32_t first = in.u16(range), left = in.un(range + 2, left_size);
        for (uint32_t k = 0; k <= left && g < glyphs; ++k, ++g) glyph_sid[g] = static_cast<uint16_t>(first + k);
      }
    }
  }
  text.glyph_unicode.assign(glyphs, 0);
  // Each string id's name is looked up once, however many glyphs share it.
  constexpr uint32_t kUnresolved = 0xFFFFFFFF;
  std::vector<uint32_t> sid_unicode(kStandardStringCount + strings.count(), kUnresolved);
  auto unicode_of_sid = [&](uint32_t sid) -> uint32_t {
    if (sid == 0 || sid >= sid_unicode.size()) return 0;
    if (sid_unicode[sid] == kUnresolved) {
      std::optional<uint32_t> unicode = glyph_to_unicode(string_of(sid));
      sid_unicode[sid] = unicode ? *unicode : 0;
    }
    return sid_unicode[sid];
  };
  for (uint32_t g = 0; g < glyphs; ++g) text.glyph_unicode[g] = unicode_of_sid(glyph_sid[g]);

  // The built-in encoding: code -> glyph id (or, for supplements, string id).
  if (top.encoding == 0) {
    for (uint32_t code = 0; code < 256; ++code) {
      std::optional<uint32_t> unicode = glyph_to_unicode(standard_encoding_name(static_cast<uint8_t>(code)));
      text.encoding[code] = unicode ? *unicode : 0;
    }
  } else if (top.encoding > 1) {  // 1 is the expert encoding: not read
    const uint64_t at = top.encoding;
    const uint32_t format = in.u8(at);
    auto set = [&](uint32_t code, uint32_t glyph) {
      if (code < 256 && glyph < glyphs) text.encoding[code] = text.glyph_unicode[glyph];
    };
    uint64_t after = at + 1;
    if ((format & 0x7F) == 0) {
      const uint32_t codes = in.u8(at + 1);
      for (uint32_t k = 0; k < codes && in.has(at + 2 + k, 1); ++k) set(in.u8(at + 2 + k), k + 1);
      after = at + 2 + codes;
    } else if ((format & 0x7F) == 1) {
      const uint32_t ranges = in.u8(at + 1);
      uint32_t glyph = 1;
      for (uint32_t r = 0; r < ranges && in.has(at + 2 + 2 * r, 2); ++r) {
        const uint32_t first = in.u8(at + 2 + 2 * r), left = in.u8(at + 3 + 2 * r);
        for (uint32_t k = 0; k <= left; ++k) set(first + k, glyph++);
      }
      after = at + 2 + 2 * uint64_t{ranges};
    }
    if (format & 0x80) {
      const uint32_t supplements = in.u8(after);
      for (uint32_t k = 0; k < supplements && in.has(after + 1 + 3 * k, 3); ++k)
        text.encoding[in.u8(after + 1 + 3 * k)] = unicode_of_sid(in.u16(after + 2 + 3 * k));
    }
  }
  return text;
}

}  // namespace vellum
