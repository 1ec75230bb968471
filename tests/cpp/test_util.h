// Small builders shared by the filter and security-handler tests: byte
// strings, hex, dictionaries, zlib data, MSB-first code packing, LZW streams
// of literals, and the check of one decoder result.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/object.h"

namespace vellum::testing {

inline Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }
// Hex digits to bytes; spaces between pairs are skipped.
inline Bytes hex(std::string_view h) {
  Bytes out;
  for (size_t i = 0; i + 1 < h.size(); i += h[i] == ' ' ? 1 : 2)
    if (h[i] != ' ') out.push_back(static_cast<uint8_t>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16)));
  return out;
}

inline Object nm(const char* s) { return Object::name(s); }
inline Object num(int64_t i) { return Object::integer(i); }
inline Object arr(std::vector<Object> v) { return Object::array(std::move(v)); }
inline Dictionary dict(std::vector<std::pair<std::string, Object>> entries) {
  Dictionary d;
  for (auto& [k, v] : entries) d.append_unique(k, std::move(v));
  return d;
}
inline Object dobj(std::vector<std::pair<std::string, Object>> entries) {
  return Object::dictionary(dict(std::move(entries)));
}

// ASCIIHex text of `b`, with its end marker.
inline std::string hex_of(const Bytes& b) {
  std::string s;
  for (uint8_t c : b) s += {"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
  return s + ">";
}

// `in` in a zlib wrapper, compressed at `level`.
inline Bytes zlib(ByteSpan in, int level = 6) {
  uLongf len = compressBound(in.size());
  Bytes out(len);
  EXPECT_EQ(compress2(out.data(), &len, in.data(), in.size(), level), Z_OK);
  out.resize(len);
  return out;
}

// Codes of given widths, most significant bit first (LZW bit order).
inline Bytes pack(const std::vector<std::pair<unsigned, int>>& codes) {
  Bytes out;
  uint64_t acc = 0;
  int n = 0;
  for (auto [code, width] : codes) {
    acc = acc << width | code;
    n += width;
    while (n >= 8) out.push_back(static_cast<uint8_t>(acc >> (n -= 8)));
  }
  if (n) out.push_back(static_cast<uint8_t>(acc << (8 - n)));
  return out;
}
inline Bytes pack9(std::initializer_list<unsigned> codes) {
  std::vector<std::pair<unsigned, int>> v;
  for (unsigned c : codes) v.push_back({c, 9});
  return pack(v);
}

// LZW codes: a clear code, the literals (each after the first defines an
// entry), the `tail` codes, end-of-data. Widths follow the PDF standard's
// rule: one bit more once the table holds 2^width - early entries, at most
// 12; a full table (4096 entries) stops growing; a clear code empties it.
inline Bytes lzw_literals(const Bytes& literals, bool early, const std::vector<unsigned>& tail = {}) {
  std::vector<std::pair<unsigned, int>> codes;
  unsigned entries = 258;
  bool defines = false;  // the code after a clear defines no entry
  auto put = [&](unsigned code) {
    const unsigned next = entries + early;
    codes.push_back({code, next >= 2048 ? 12 : next >= 1024 ? 11 : next >= 512 ? 10 : 9});
    if (code == 256) {
      entries = 258, defines = false;
    } else {
      entries += defines && entries < 4096, defines = true;
    }
  };
  put(256);
  for (uint8_t b : literals) put(b);
  for (unsigned code : tail) put(code);
  put(257);
  return pack(codes);
}

// DEFLATE bits: plain values least significant bit first, Huffman codes
// most significant bit first.
class BitWriter {
 public:
  void put(uint32_t v, int n) {  // least significant bit first
    for (int i = 0; i < n; ++i) put_bit((v >> i) & 1);
  }
  void put_code(uint32_t code, int len) {  // Huffman codes: most significant bit first
    for (int i = len - 1; i >= 0; --i) put_bit((code >> i) & 1);
  }
  Bytes bytes() const { return out_; }

 private:
  void put_bit(int b) {
    if (n_ % 8 == 0) out_.push_back(0);
    out_.back() |= static_cast<uint8_t>(b << (n_ % 8));
    ++n_;
  }
  Bytes out_;
  size_t n_ = 0;
};

// "ok", or the Error::display() text of a failed Result or Status.
template <typename R>
std::string outcome(const R& r) {
  return r.ok() ? std::string("ok") : r.error().display();
}

// A decoder result against its expectation: the bytes, or (nullopt) a
// failure with the given Error::display() text.
inline void expect_result(const Result<Bytes>& got, const std::optional<Bytes>& want, const std::string& error) {
  EXPECT_EQ(outcome(got), want ? "ok" : error);
  EXPECT_TRUE(!got || !want || *got == *want);
}

}  // namespace vellum::testing
