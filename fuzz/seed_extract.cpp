// Seed extractor: opens one PDF with vellum and writes, for each fuzz target,
// inputs cut from the file's own objects, in the input format of harness.h:
//
//   object/       the text of each top-level object (up to its stream data)
//   content/      each page's assembled, decoded content
//   cmap/         every decoded stream that holds a CMap
//   decode/       each singly-filtered stream body with its decoder selector
//   filter_chain/ each filtered stream body with its whole chain
//   crypt/        the encryption dictionary with /ID and an encrypted string
//
// Usage: seed_extract FILE.pdf OUTDIR [PASSWORD]. Files that vellum cannot
// open give no seeds; nothing else is reported.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <algorithm>
#include <string>

#include "file/doc.h"
#include "filter/filter.h"
#include "page/pagetree.h"

namespace {

using namespace vellum;
namespace fs = std::filesystem;

// Each target directory holds at most this many seeds per file, so that a
// 352-page document does not drown the others.
constexpr int kMaxPerTarget = 40;
constexpr size_t kMaxSeedBytes = 1 << 20;

struct Writer {
  fs::path dir;
  std::string stem;
  std::map<std::string, int> counts;

  void write(const std::string& target, std::string_view bytes) {
    int& n = counts[target];
    if (n >= kMaxPerTarget || bytes.empty() || bytes.size() > kMaxSeedBytes) return;
    fs::create_directories(dir / target);
    std::ofstream out(dir / target / (stem + "-" + std::to_string(n++)), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
};

void write_object(std::string& out, const Object& obj, int depth = 0) {
  if (depth > 32) {
    out += "null";
    return;
  }
  switch (obj.type()) {
    case Object::Type::Null: out += "null"; break;
    case Object::Type::Bool: out += obj.as_bool() ? "true" : "false"; break;
    case Object::Type::Integer: out += std::to_string(obj.as_int()); break;
    case Object::Type::Real: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.6f", obj.as_real());
      out += buf;
      break;
    }
    case Object::Type::String: {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += '<';
      for (unsigned char c : obj.as_string()) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      out += '>';
      break;
    }
    case Object::Type::Name: {
      out += '/';
      for (unsigned char c : obj.as_name()) {
        if (c > 0x20 && c < 0x7F && c != '#' && !chars::is_delimiter(c)) {
          out += static_cast<char>(c);
          continue;
        }
        char buf[4];
        std::snprintf(buf, sizeof buf, "#%02X", c);
        out += buf;
      }
      break;
    }
    case Object::Type::Array:
      out += '[';
      for (const Object& o : obj.as_array()) {
        write_object(out, o, depth + 1);
        out += ' ';
      }
      out += ']';
      break;
    case Object::Type::Dictionary:
    case Object::Type::Stream:
      out += "<<";
      for (const auto& [key, value] : *obj.dict_or_stream_dict()) {
        write_object(out, Object::name(key), depth + 1);
        out += ' ';
        write_object(out, value, depth + 1);
        out += ' ';
      }
      out += ">>";
      break;
    case Object::Type::Reference:
      out += std::to_string(obj.as_ref().num) + " " + std::to_string(obj.as_ref().gen) + " R";
      break;
  }
}

// The decoder selector of harness.h's fuzz_decode for a filter name.
int decoder_of(const std::string& name, const Dictionary* parms) {
  if (name == "FlateDecode" || name == "Fl") return 0;
  if (name == "LZWDecode" || name == "LZW") {
    const Object* ec = parms ? parms->get("EarlyChange") : nullptr;
    return ec && ec->is_int() && ec->as_int() == 0 ? 2 : 1;
  }
  if (name == "ASCII85Decode" || name == "A85") return 3;
  if (name == "ASCIIHexDecode" || name == "AHx") return 4;
  if (name == "RunLengthDecode" || name == "RL") return 5;
  return -1;
}

void stream_seeds(Writer& w, const Stream& stream) {
  const Dictionary& dict = stream.dict;
  ByteSpan raw = stream.data();
  Result<Bytes> decoded = decode_stream(dict, raw, 64u << 20);
  if (decoded) {
    std::string_view text = as_chars(ByteSpan(*decoded));
    if (text.find("begincmap") != std::string_view::npos) w.write("cmap", text);
  }

  const Object* filter = dict.get("Filter");
  if (!filter) return;
  const Dictionary* parms = dict.get_dict("DecodeParms");
  if (filter->is_name()) {
    int decoder = decoder_of(filter->as_name(), parms);
    if (decoder >= 0) {
      std::string seed;
      const bool predicted = parms && parms->get_int("Predictor").value_or(1) >= 2;
      seed += static_cast<char>(decoder | (predicted ? 0x80 : 0));
      // Predictor header: PNG (index 6 = 12) or TIFF (2), 1 colour, 8 bits,
      // columns / 3 as harness.h scales them.
      const int64_t predictor = parms ? parms->get_int("Predictor").value_or(0) : 0;
      seed += static_cast<char>(predictor == 2 ? 2 : predictor >= 10 ? 6 : 0);
      seed += static_cast<char>(parms ? parms->get_int("Colors").value_or(1) : 1);
      seed += static_cast<char>(3);
      seed += static_cast<char>(parms ? parms->get_int("Columns").value_or(1) / 3 : 1);
      ByteSpan body = raw;
      if (decoder == 0 && body.size() >= 2 && (body[0] & 0x0F) == 8 && ((unsigned{body[0]} << 8 | body[1]) % 31) == 0)
        body = body.subspan(2);
      seed += as_chars(body);
      w.write("decode", seed);
    }
  }
  const std::vector<Object>* names = filter->is_array() ? &filter->as_array() : nullptr;
  std::vector<Object> single;
  if (!names) {
    single.push_back(*filter);
    names = &single;
  }
  static const char* kNames[] = {"FlateDecode", "Fl", "LZWDecode", "LZW", "ASCII85Decode", "A85", "AHx", "RL", "DCTDecode", "Crypt"};
  std::string seed;
  seed += static_cast<char>((names->size() - 1) % 8);
  for (const Object& n : *names) {
    if (!n.is_name()) continue;
    int index = 9;
    for (int i = 0; i < 10; ++i)
      if (n.as_name() == kNames[i]) index = i;
    if (n.as_name() == "ASCIIHexDecode") index = 6;
    if (n.as_name() == "RunLengthDecode") index = 7;
    seed += static_cast<char>(index);
  }
  seed += static_cast<char>(20);
  seed += as_chars(raw);
  w.write("filter_chain", seed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE.pdf OUTDIR [PASSWORD]\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string password = argc > 3 ? argv[3] : "";
  Writer w{argv[2], fs::path(argv[1]).stem().string(), {}};

  Result<Document> doc = Document::parse_with_password(ByteSpan(file), as_bytes(password));
  if (!doc) return 0;
  const Resolver& resolver = doc->resolver();

  for (const auto& [num, entry] : resolver.xref().entries) {
    if (entry.kind == XrefEntry::Kind::InFile && entry.offset < file.size()) {
      // The object's text up to "stream" or "endobj".
      std::string_view text = as_chars(ByteSpan(file).subspan(entry.offset));
      size_t end = std::min(text.find("endobj"), text.find("stream"));
      if (end != std::string_view::npos) w.write("object", text.substr(0, std::min<size_t>(end, 1 << 14)));
    }
    Result<const Object*> obj = resolver.get(num);
    if (obj && (*obj)->is_stream()) stream_seeds(w, (*obj)->as_stream());
  }

  if (Result<const Dictionary*> catalog = doc->catalog()) {
    if (auto pages = collect_pages(resolver, **catalog)) {
      for (const Page& page : *pages) {
        Result<Bytes> content = page_content(resolver, *page.dict);
        if (content) w.write("content", as_chars(ByteSpan(*content)));
      }
    }
  }

  const Dictionary& trailer = resolver.xref().trailer;
  if (const Object* encrypt = trailer.get("Encrypt")) {
    Result<const Dictionary*> encrypt_dict = resolver.resolve_dict(*encrypt);
    if (encrypt_dict) {
      std::string seed;
      seed += static_cast<char>(password.size());
      seed += password;
      seed += std::string("\x00\x07\x00", 3);  // object 7, generation 0
      write_object(seed, Object::dictionary(**encrypt_dict));
      seed += ' ';
      std::string id;
      if (const std::vector<Object>* ids = trailer.get_array("ID"); ids && !ids->empty() && (*ids)[0].is_string())
        id = (*ids)[0].as_string().substr(0, 32);
      seed += static_cast<char>(id.size());
      seed += id;
      // Some encrypted bytes of the file: the data after its first "stream".
      std::string_view all = as_chars(ByteSpan(file));
      size_t at = all.find("stream");
      if (at != std::string_view::npos) seed += all.substr(at + 7, 96);
      w.write("crypt", seed);
    }
  }
  return 0;
}
