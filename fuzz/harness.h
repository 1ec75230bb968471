// The bodies of the fuzz targets, shared by the libFuzzer entry points in
// this directory and by tests/cpp/test_regression.cpp, which replays the
// saved findings through exactly the same code.
//
// Each target takes raw bytes, drives one entry point of the library and
// checks the properties that must hold for every input (a crash, hang or
// sanitizer report is a finding on its own; FUZZ_CHECK adds the properties
// the library promises beyond "does not crash"). Small headers taken from the
// first input bytes select decoders and parameters, so that one target covers
// every variant without a separate binary for each.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "font/cff.h"
#include "font/cmap.h"
#include "font/truetype.h"
#include "font/type1.h"
#include "page/content.h"
#include "page/tables.h"
#include "page/text.h"
#include "syntax/cos.h"
#include "file/crypt.h"
#include "extract/extract.h"
#include "extract/info.h"
#include "filter/ascii85.h"
#include "filter/asciihex.h"
#include "filter/filter.h"
#include "filter/inflate.h"
#include "filter/lzw.h"
#include "filter/predictor.h"
#include "filter/runlength.h"
#include "syntax/lex.h"
#include "extract/serialize.h"

#ifdef VELLUM_FUZZ_WITH_ZLIB
#include <zlib.h>
#endif

// A broken promise aborts, which libFuzzer reports as a crash with the input
// that caused it and a test run reports as a failed (killed) test.
#define FUZZ_CHECK(cond) ((cond) ? void() : vellum::fuzz::violated(__FILE__, __LINE__, #cond))

namespace vellum::fuzz {

[[noreturn]] inline void violated(const char* file, int line, const char* cond) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, cond);
  std::abort();
}

// Reads the small headers at the front of an input; past the end it yields
// zeros, so every input is a valid header.
struct Reader {
  ByteSpan data;
  size_t pos = 0;
  uint8_t byte() { return pos < data.size() ? data[pos++] : 0; }
  ByteSpan take(size_t n) {
    ByteSpan out = data.subspan(pos, std::min(n, data.size() - pos));
    pos += out.size();
    return out;
  }
  ByteSpan rest() { return take(data.size()); }
};

// A failure is an Error with a message; true when there is a value to check.
template <class T>
bool succeeded(const Result<T>& result) {
  if (!result) FUZZ_CHECK(!result.error().message.empty());
  return result.ok();
}

// ------------------------------------------------------------ whole pipeline

// The document information (vellum.info): text as UTF-8, page count as the
// driver sees it.
inline void check_info(const Document& doc) {
  Result<DocumentInfo> info = read_info(doc);
  if (!succeeded(info)) return;
  for (const std::optional<std::string>* text : {&info->title, &info->author, &info->subject, &info->keywords,
                                                 &info->creator, &info->producer, &info->creation_date,
                                                 &info->modification_date})
    FUZZ_CHECK(!*text || valid_utf8(**text));
  for (const OutlineItem& item : info->outline) {
    FUZZ_CHECK(valid_utf8(item.title));
    FUZZ_CHECK(item.level >= 1 && item.level <= kMaxOutlineDepth);
    FUZZ_CHECK(!item.page || *item.page < info->page_count);
  }
}

// Open, extract and render, as the Python functions do, in both readings:
// strict, and the recovering default of the Python functions. Every outcome
// is a value or an Error; the renderings must be UTF-8, since the Python
// layer hands them to the interpreter as str. The JSON copies every string of
// the extracted document byte for byte (escaping only ASCII), so its check
// covers each line, cell and image name.
inline void run_pipeline(ByteSpan file, ByteSpan password) {
  for (Reading reading : {Reading::Strict, Reading::Recover}) {
    Result<Document> doc = Document::parse_with_password(file, password, reading);
    if (!succeeded(doc)) continue;
    check_info(*doc);
    Result<ExtractedDoc> extracted = extract(*doc);
    if (!succeeded(extracted)) continue;
    FUZZ_CHECK(valid_utf8(to_json(*extracted)));
    FUZZ_CHECK(valid_utf8(to_html(*extracted, document_title(*doc))));
    FUZZ_CHECK(valid_utf8(to_markdown(*extracted)));
  }
}

// The file as it is, with the empty password.
inline void fuzz_document(const uint8_t* data, size_t size) { run_pipeline(ByteSpan(data, size), {}); }

// First byte: password length (mod 64); then the password; then the file.
// The password reaches every key-derivation route, including the owner
// password and the 127-byte cut of revisions 5 and 6.
inline void fuzz_document_password(const uint8_t* data, size_t size) {
  Reader in{ByteSpan(data, size)};
  const ByteSpan password = in.take(in.byte() % 64);
  run_pipeline(in.rest(), password);
}

// ------------------------------------------------------------ syntax

// Every object of the input, one after another, as a reader of a body would.
inline void fuzz_object(const uint8_t* data, size_t size) {
  Lexer lexer(ByteSpan(data, size));
  for (;;) {
    lexer.skip_ws();
    if (lexer.at_end()) return;
    const size_t before = lexer.pos();
    Result<Object> obj = parse_object(lexer);
    if (!obj) return;
    // A successful parse consumes input, or the loop above would never end.
    FUZZ_CHECK(lexer.pos() > before);
    if (const std::string* name = obj->name_value()) FUZZ_CHECK(valid_utf8(*name));
  }
}

// Operators must point at operands that exist; tables found in them are
// well-formed grids.
inline void fuzz_content(const uint8_t* data, size_t size) {
  ContentOps ops = parse_content(ByteSpan(data, size));
  uint64_t total = 0;
  for (const Op& op : ops.ops) {
    FUZZ_CHECK(op.name_len <= 4);
    FUZZ_CHECK(uint64_t{op.first_operand} + op.operand_count <= ops.operands.size());
    total += op.operand_count;
  }
  FUZZ_CHECK(total <= ops.operands.size());

  // The table detector on the same operators: every table a rectangular
  // grid of at least 2 x 2 cells.
  std::vector<TextRun> runs = extract_runs(ops, FontMap{});
  for (const Table& table : detect_tables(ops, runs)) {
    FUZZ_CHECK(table.rows >= 2 && table.cols >= 2 && table.cells.size() == table.rows);
    for (const std::vector<std::string>& row : table.cells) FUZZ_CHECK(row.size() == table.cols);
  }
}

// Embedded font programs: whatever the bytes, the parsers return in bounded
// time with tables of bounded size holding only Unicode scalar values.
inline void check_unicode(uint32_t u) { FUZZ_CHECK(u == 0 || (u <= 0x10FFFF && (u < 0xD800 || u > 0xDFFF))); }

inline void fuzz_truetype(const uint8_t* data, size_t size) {
  Result<TrueTypeText> text = parse_truetype(ByteSpan(data, size));
  if (!text) return;
  FUZZ_CHECK(text->glyph_unicode.size() <= 65536);
  FUZZ_CHECK(text->symbolic_glyphs.empty() || text->symbolic_glyphs.size() == 256);
  for (uint32_t u : text->glyph_unicode) check_unicode(u);
}

inline void fuzz_cff(const uint8_t* data, size_t size) {
  Result<CffText> text = parse_cff(ByteSpan(data, size));
  if (!text) return;
  FUZZ_CHECK(text->glyph_unicode.size() <= 65535);
  FUZZ_CHECK(!text->cid_keyed || text->glyph_unicode.empty());
  for (uint32_t u : text->glyph_unicode) check_unicode(u);
  for (uint32_t u : text->encoding) check_unicode(u);
}

// The first two bytes give the clear-text length (0: up to eexec).
inline void fuzz_type1(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const size_t clear = (size_t{data[0]} << 8) | data[1];
  std::optional<std::array<uint32_t, 256>> table = type1_encoding(ByteSpan(data + 2, size - 2), clear);
  if (table)
    for (uint32_t u : *table) check_unicode(u);
}

// Parse a CMap, then look up codes taken from the input (as 1, 2, 3 and 4
// byte codes) and from both ends of every range.
inline void fuzz_cmap(const uint8_t* data, size_t size) {
  CMap cmap = CMap::parse(ByteSpan(data, size));
  std::string out;
  auto probe = [&](uint32_t code) {
    std::optional<std::string> text = cmap.lookup(code);
    const size_t before = out.size();
    const bool found = cmap.lookup_into(code, out);
    FUZZ_CHECK(found == text.has_value());
    if (found) FUZZ_CHECK(out.compare(before, std::string::npos, *text) == 0);
    if (text) FUZZ_CHECK(valid_utf8(*text));
    out.clear();
  };
  for (const CMap::Range& r : cmap.ranges)
    for (uint32_t code : {r.low, r.high, r.low + (r.high - r.low) / 2}) probe(code);
  for (size_t i = 0; i + 4 <= size && i < 4096; i += 4) {
    uint32_t code = 0;
    for (size_t k = 0; k < 4; ++k) probe(code = code << 8 | data[i + k]);
  }
  FUZZ_CHECK(valid_utf8(utf16_be(ByteSpan(data, size))));
}

// ------------------------------------------------------------ filters

enum class Decoder : uint8_t { Flate, LzwEarly, LzwLate, Ascii85, AsciiHex, RunLength, Predictor, Count };

// Predictor parameters from four header bytes: the predictor (kept small so
// that None, TIFF and PNG are all frequent), colours, bits per component and
// columns (also zero and negative, which count as 1).
inline Dictionary predictor_parms(Reader& in) {
  static constexpr int64_t kPredictors[] = {0, 1, 2, 2, 10, 11, 12, 13, 14, 15, 3, 255};
  static constexpr int64_t kBits[] = {1, 2, 4, 8, 16, 0, 3, 32};
  Dictionary parms;
  parms.insert("Predictor", Object::integer(kPredictors[in.byte() % std::size(kPredictors)]));
  parms.insert("Colors", Object::integer(static_cast<int8_t>(in.byte()) % 8));
  parms.insert("BitsPerComponent", Object::integer(kBits[in.byte() % std::size(kBits)]));
  parms.insert("Columns", Object::integer(static_cast<int8_t>(in.byte()) * 3));
  return parms;
}

#ifdef VELLUM_FUZZ_WITH_ZLIB
// zlib's raw inflate as the reference: it rejects more than we do (it checks
// NLEN, refuses incomplete and over-subscribed codes and distances beyond
// 32 KiB), so only its successes are compared.
inline std::optional<Bytes> zlib_inflate_raw(ByteSpan data, size_t limit) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return std::nullopt;
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  // Grown in chunks: a buffer of the whole limit would cost more per input
  // than the decoding itself.
  Bytes out;
  uint8_t chunk[1 << 16];
  int rc = Z_OK;
  while (rc == Z_OK && out.size() <= limit) {
    zs.next_out = chunk;
    zs.avail_out = sizeof chunk;
    rc = ::inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - zs.avail_out));
  }
  inflateEnd(&zs);
  if (rc != Z_STREAM_END || out.size() > limit) return std::nullopt;
  return out;
}
#endif

// One decoder, selected by the first byte: it stays within the limit or
// fails with BadStream, and inflate agrees with zlib where zlib decodes and
// with its validator everywhere (chains: fuzz_filter_chain). Header:
// selector, 4 predictor bytes, then the data.
inline void fuzz_decode(const uint8_t* data, size_t size) {
  // Each input is decoded up to three times (the decoder, zlib, the
  // validator); a 4 MiB cap keeps that well under the campaign's one-second
  // timeout under the sanitizers. Inputs that reach it still exercise the limit.
  constexpr uint64_t kLimit = uint64_t{1} << 22;
  Reader in{ByteSpan(data, size)};
  const auto decoder = static_cast<Decoder>(in.byte() % static_cast<uint8_t>(Decoder::Count));
  Dictionary parms = predictor_parms(in);
  const ByteSpan body = in.rest();

  Result<Bytes> direct = Bytes{};
  switch (decoder) {
    case Decoder::Flate: direct = inflate(body, kLimit); break;
    case Decoder::LzwEarly: direct = lzw_decode(body, true, kLimit); break;
    case Decoder::LzwLate: direct = lzw_decode(body, false, kLimit); break;
    case Decoder::Ascii85: direct = ascii85_decode(body, kLimit); break;
    case Decoder::AsciiHex: direct = ascii_hex_decode(body, kLimit); break;
    case Decoder::RunLength: direct = run_length_decode(body, kLimit); break;
    case Decoder::Predictor: {
      Result<Bytes> out = predictor::apply(body, parms);
      if (out) FUZZ_CHECK(out->size() <= body.size());
      return;
    }
    case Decoder::Count: return;
  }
  if (direct) FUZZ_CHECK(direct->size() <= kLimit);
  else FUZZ_CHECK(direct.error().kind == ErrorKind::BadStream);

#ifdef VELLUM_FUZZ_WITH_ZLIB
  if (decoder == Decoder::Flate) {
    if (std::optional<Bytes> reference = zlib_inflate_raw(body, kLimit)) {
      FUZZ_CHECK(direct.ok());
      FUZZ_CHECK(*direct == *reference);
    }
    Status validated = inflate_validate(body, kLimit);
    FUZZ_CHECK(validated.ok() == direct.ok());
    if (!validated) FUZZ_CHECK(validated.error() == direct.error());
  }
#endif
}

// A chain of up to eight filters built from the input, with an output limit
// taken from the input too, so that nested decompression bombs and the limit
// check of every decoder are reached quickly. Header: stage count, one byte
// per stage (filter and whether it has predictor parameters), a limit
// exponent, then the data.
inline void fuzz_filter_chain(const uint8_t* data, size_t size) {
  static constexpr const char* kNames[] = {"FlateDecode", "Fl",  "LZWDecode", "LZW",       "ASCII85Decode",
                                           "A85",         "AHx", "RL",        "DCTDecode", "Crypt"};
  Reader in{ByteSpan(data, size)};
  const size_t stages = in.byte() % 8 + 1;
  std::vector<Object> filters;
  std::vector<Object> slots;
  for (size_t i = 0; i < stages; ++i) {
    const uint8_t b = in.byte();
    filters.push_back(Object::name(kNames[(b & 0x7F) % std::size(kNames)]));
    if (b & 0x80) {
      Dictionary parms;
      parms.insert("Predictor", Object::integer(b & 0x40 ? 12 : 2));
      parms.insert("Columns", Object::integer((b & 0x3F) + 1));
      if (b & 0x20) parms.insert("EarlyChange", Object::integer(0));
      slots.push_back(Object::dictionary(std::move(parms)));
    } else {
      slots.push_back(Object::null());
    }
  }
  const uint64_t limit = uint64_t{1} << (in.byte() % 21);  // 1 byte to 1 MiB
  Dictionary dict;
  dict.insert("Filter", Object::array(std::move(filters)));
  dict.insert("DecodeParms", Object::array(std::move(slots)));
  const ByteSpan body = in.rest();

  Result<Bytes> decoded = decode_stream(dict, body, limit);
  if (decoded) FUZZ_CHECK(decoded->size() <= limit);
  else if (decoded.error().message == "decoded stream too large") FUZZ_CHECK(decoded.error().kind == ErrorKind::BadStream);
  Status validated = validate_stream(dict, body, limit);
  FUZZ_CHECK(validated.ok() == decoded.ok());
  if (!validated) FUZZ_CHECK(validated.error() == decoded.error());
}

// ------------------------------------------------------------ security handler

// Header: password length (mod 48), the password, object number and
// generation bytes; then an encryption dictionary in PDF syntax, then up to 32
// bytes of /ID, then the data to decrypt. The data is decrypted as a string,
// as a stream, and inside an array, as the resolver would.
inline void fuzz_crypt(const uint8_t* data, size_t size) {
  Reader in{ByteSpan(data, size)};
  ByteSpan password = in.take(in.byte() % 48);
  uint32_t num = in.byte();
  num = num << 8 | in.byte();
  const uint16_t gen = in.byte();
  Lexer lexer(in.rest());
  Result<Object> encrypt = parse_object(lexer);
  if (!encrypt || !encrypt->is_dict()) return;
  lexer.skip_ws();
  Reader tail{lexer.rest()};
  const ByteSpan id = tail.take(tail.byte() % 33);
  const ByteSpan payload = tail.rest();

  std::optional<Decryptor> decryptor = Decryptor::from_encrypt(encrypt->as_dict(), id, password);
  if (!decryptor) return;
  // 1 to 16 bytes (/Length 8 to 135 and beyond, clamped) up to revision 4,
  // 32 from revision 5, or empty when /UE or /OE cannot be deciphered (such
  // a decryptor passes data through).
  FUZZ_CHECK(decryptor->key().size() <= 16 || decryptor->key().size() == 32);

  const std::string text(as_chars(payload));
  Object s = decryptor->decrypt_object(num, gen, Object::string(text));
  FUZZ_CHECK(s.is_string());
  Dictionary stream_dict;
  stream_dict.insert("Length", Object::integer(static_cast<int64_t>(payload.size())));
  Object st = decryptor->decrypt_object(num, gen, Object::stream(Stream(std::move(stream_dict), payload)));
  FUZZ_CHECK(st.is_stream());
  Object arr = decryptor->decrypt_object(num, gen, Object::array({Object::string(text), Object::array({})}));
  FUZZ_CHECK(arr.is_array() && arr.as_array().size() == 2);
  FUZZ_CHECK(arr.as_array()[0].as_string() == s.as_string());
}

}  // namespace vellum::fuzz
