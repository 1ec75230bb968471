// The resolver. Objects are read at most once: the cache keeps every object
// that resolved and the error of every one that did not (unless the error
// came from the lookups in progress, see below), and each object stream is
// decoded and split once. A lookup that re-enters an object still being resolved (a
// /Length pointing at its own stream, an object stream inside itself, a loop
// of object streams) fails instead of recursing, and nested lookups are
// bounded in depth so that a long chain of indirect lengths cannot exhaust
// the stack.
#include "file/resolver.h"

#include <cstring>

#include "syntax/cos.h"
#include "filter/filter.h"

namespace vellum {

namespace {

// Nested lookups (a /Length reference inside a stream inside an object
// stream...) deeper than this fail; real files need two or three.
constexpr size_t kMaxLookupDepth = 32;

Error object_error(const char* message) { return make_error(ErrorKind::InvalidObject, message); }

// Position of the first "endstream" at or after `from`, or npos.
size_t find_endstream(ByteSpan file, size_t from) {
  static constexpr std::string_view kWord = "endstream";
  const uint8_t* base = file.data();
  size_t n = file.size();
  size_t i = from;
  while (i + kWord.size() <= n) {
    const void* hit = std::memchr(base + i, 'e', n - i - kWord.size() + 1);
    if (!hit) return std::string_view::npos;
    i = static_cast<const uint8_t*>(hit) - base;
    if (std::memcmp(base + i, kWord.data(), kWord.size()) == 0) return i;
    ++i;
  }
  return std::string_view::npos;
}

bool endstream_at(ByteSpan file, size_t pos) {
  return pos + 9 <= file.size() && std::memcmp(file.data() + pos, "endstream", 9) == 0;
}

}  // namespace

namespace resolver {
Result<uint32_t> read_uint(Lexer& lexer) {
  auto r = vellum::read_uint(lexer);
  if (r) return r.value();
  return object_error(r.error().message.c_str());
}
}  // namespace resolver

Result<ObjectHeader> read_header(Lexer& lexer) {
  VELLUM_TRY(uint32_t num, resolver::read_uint(lexer));
  VELLUM_TRY(uint32_t gen, resolver::read_uint(lexer));
  lexer.skip_ws();
  if (!lexer.eat_keyword("obj")) return object_error("missing obj keyword");
  return ObjectHeader{num, static_cast<uint16_t>(gen)};
}

Object assemble_stream(ByteSpan file, Lexer& lexer, Object obj, std::optional<int64_t> declared_length) {
  if (!obj.is_dict()) return obj;
  lexer.skip_ws();
  if (!lexer.eat_keyword("stream")) return obj;
  if (!lexer.at_end() && lexer.peek() == '\r') lexer.advance();
  if (!lexer.at_end() && lexer.peek() == '\n') lexer.advance();
  size_t start = lexer.pos();
  size_t n = file.size();

  if (declared_length && static_cast<uint64_t>(*declared_length) <= n - start) {
    size_t end = start + static_cast<size_t>(*declared_length);
    size_t window_end = end + 24 > n ? n : end + 24;
    if (window_end - end >= 9) {
      for (size_t p = end; p + 9 <= window_end; ++p) {
        if (endstream_at(file, p))
          return Object::stream(Stream(std::move(obj.as_dict_mut()), file.subspan(start, end - start)));
      }
    }
  }
  size_t found = find_endstream(file, start);
  size_t end = found == std::string_view::npos ? n : found;
  // Drop one line end: a final CR, or a final LF with an optional CR before it.
  if (end > start && file[end - 1] == '\r') {
    --end;
  } else if (end > start && file[end - 1] == '\n') {
    --end;
    if (end > start && file[end - 1] == '\r') --end;
  }
  return Object::stream(Stream(std::move(obj.as_dict_mut()), file.subspan(start, end - start)));
}

Resolver::Resolver(ByteSpan file, Xref xref) : file_(file), xref_(std::move(xref)) {}

void Resolver::install_decryptor(Decryptor decryptor, std::optional<uint32_t> encrypt_num) {
  decryptor_ = std::move(decryptor);
  encrypt_num_ = encrypt_num;
}

Result<const Object*> Resolver::get(uint32_t num) const {
  auto hit = cache_.find(num);
  if (hit != cache_.end()) return static_cast<const Object*>(hit->second.get());
  if (auto failed = failed_.find(num); failed != failed_.end()) return failed->second;
  if (in_progress_.count(num)) {
    ++chain_failures_;
    return object_error("object refers to itself");
  }
  if (in_progress_.size() >= kMaxLookupDepth) {
    ++chain_failures_;
    return object_error("object references nested too deeply");
  }
  const uint64_t chain_failures_before = chain_failures_;
  in_progress_.insert(num);
  Result<const Object*> result = load(num);
  in_progress_.erase(num);
  if (!result && chain_failures_ == chain_failures_before) failed_.emplace(num, result.error());
  return result;
}

Result<const Object*> Resolver::load(uint32_t num) const {
  auto it = xref_.entries.find(num);
  if (it == xref_.entries.end() || it->second.kind == XrefEntry::Kind::Free)
    return make_error(ErrorKind::ObjectNotFound, "no such object");
  Result<Object> obj = read_entry(num, it->second);
  if (!obj && recovering_) obj = recover_object(num, it->second, obj.error());
  if (!obj) return obj.error();
  auto [slot, inserted] = cache_.emplace(num, std::make_unique<Object>(std::move(obj).value()));
  return static_cast<const Object*>(slot->second.get());
}

Result<Object> Resolver::read_entry(uint32_t num, const XrefEntry& entry) const {
  if (entry.kind == XrefEntry::Kind::InFile) return read_in_file(num, entry.offset);
  VELLUM_TRY(const ObjStm* stm, objstm(entry.stream));
  if (entry.index >= stm->count()) return object_error("objstm index out of range");
  uint64_t pos = stm->first + stm->offsets[entry.index];
  if (pos < stm->first) pos = stm->data.size();  // overflow: past the end
  Lexer lx(ByteSpan(stm->data.data(), stm->data.size()),
           pos > stm->data.size() ? stm->data.size() : static_cast<size_t>(pos));
  return parse_object(lx);
}

Result<Object> Resolver::read_in_file(uint32_t num, uint64_t offset) const {
  Lexer lx(file_, offset > file_.size() ? file_.size() : static_cast<size_t>(offset));
  VELLUM_TRY(ObjectHeader header, read_header(lx));
  if (header.num != num) return object_error("object number mismatch");
  VELLUM_TRY(Object parsed, parse_object(lx));
  std::optional<int64_t> length;
  if (parsed.is_dict()) length = declared_length(parsed.as_dict());
  Object obj = assemble_stream(file_, lx, std::move(parsed), length);
  if (decryptor_ && (!encrypt_num_ || *encrypt_num_ != num))
    obj = decryptor_->decrypt_object(num, header.gen, std::move(obj));
  return obj;
}

// ------------------------------------------------------------ recovery

void Resolver::enable_recovery(size_t header_offset, std::optional<ScannedFile> scanned) {
  recovering_ = true;
  header_offset_ = header_offset;
  if (scanned) scanned_ = std::move(scanned);
}

const ScannedFile& Resolver::scanned() const {
  if (!scanned_) scanned_ = scan_file(file_);
  return *scanned_;
}

const XrefEntries& Resolver::scanned_members() const {
  if (members_) return *members_;
  members_.emplace();  // a lookup made while the streams load sees what is there so far
  const std::vector<uint32_t>& streams = scanned().object_streams;
  for (auto stream = streams.rbegin(); stream != streams.rend(); ++stream) {
    Result<const ObjStm*> stm = objstm(*stream);
    if (!stm) continue;
    for (uint32_t i = 0; i < stm.value()->count(); ++i) members_->emplace(stm.value()->numbers[i], XrefEntry::in_stream(*stream, i));
    for (uint32_t num : catalogs_in(*stm.value())) member_catalogs_.push_back(num);
  }
  return *members_;
}

const XrefEntry* Resolver::scanned_entry(uint32_t num) const {
  const XrefEntries& body = scanned().entries;
  if (auto it = body.find(num); it != body.end()) return &it->second;
  const XrefEntries& members = scanned_members();
  if (auto it = members.find(num); it != members.end()) return &it->second;
  return nullptr;
}

Result<Object> Resolver::recover_object(uint32_t num, const XrefEntry& entry, Error error) const {
  if (entry.kind == XrefEntry::Kind::InFile && header_offset_ > 0) {
    Result<Object> shifted = read_in_file(num, entry.offset + header_offset_);
    if (shifted) {
      ++shifted_;
      return shifted;
    }
  }
  const XrefEntry* found = scanned_entry(num);
  auto same = [&](const XrefEntry& a) {
    return a.kind == entry.kind && a.offset == entry.offset && a.stream == entry.stream && a.index == entry.index;
  };
  if (!found || same(*found)) return error;
  // Copied: reading an object stream may add to the members' map.
  const XrefEntry where = *found;
  Result<Object> relocated = read_entry(num, where);
  if (!relocated) return error;
  ++relocated_;
  return relocated;
}

std::vector<uint32_t> Resolver::adopt_object_stream_members() {
  for (const auto& [num, entry] : scanned_members()) xref_.entries.emplace(num, entry);
  return member_catalogs_;
}

std::string Resolver::recovery_note() const {
  auto objects = [](uint64_t n) { return std::to_string(n) + (n == 1 ? " object" : " objects"); };
  std::string note;
  if (shifted_)
    note = "the offsets of " + objects(shifted_) + " count from the %PDF- header at byte " +
           std::to_string(header_offset_) + " and were read shifted";
  if (relocated_) {
    if (!note.empty()) note += "; ";
    note += "the cross-reference table gives wrong offsets for " + objects(relocated_) + ", read where a scan of " +
            "the file found " + (relocated_ == 1 ? "it" : "them");
  }
  return note;
}

Result<const ObjStm*> Resolver::objstm(uint32_t stream_num) const {
  auto hit = objstm_cache_.find(stream_num);
  if (hit != objstm_cache_.end()) return static_cast<const ObjStm*>(hit->second.get());
  if (auto failed = failed_objstm_.find(stream_num); failed != failed_objstm_.end()) return failed->second;
  const uint64_t chain_failures_before = chain_failures_;
  Result<std::unique_ptr<ObjStm>> parsed = load_objstm(stream_num);
  if (!parsed) {
    if (chain_failures_ == chain_failures_before) failed_objstm_.emplace(stream_num, parsed.error());
    return parsed.error();
  }
  auto [slot, inserted] = objstm_cache_.emplace(stream_num, std::move(parsed).value());
  return static_cast<const ObjStm*>(slot->second.get());
}

Result<std::unique_ptr<ObjStm>> Resolver::load_objstm(uint32_t stream_num) const {
  VELLUM_TRY(const Object* obj, get(stream_num));
  if (!obj->is_stream()) return object_error("ObjStm is not a stream");
  const Stream& stream = obj->as_stream();
  VELLUM_TRY(Bytes decoded, decode_stream(stream.dict, stream.data()));
  VELLUM_TRY(ObjStm parsed, ObjStm::parse(stream.dict, std::move(decoded)));
  return std::make_unique<ObjStm>(std::move(parsed));
}

Result<const Dictionary*> Resolver::resolve_dict(const Object& obj) const {
  const Object* target = &obj;
  if (obj.is_ref()) {
    VELLUM_TRY(const Object* got, get(obj.as_ref().num));
    target = got;
  }
  if (const Dictionary* d = target->dict_or_stream_dict()) return d;
  return object_error("expected dictionary");
}

const Object* Resolver::deref(const Object& obj) const {
  if (!obj.is_ref()) return &obj;
  auto got = get(obj.as_ref().num);
  return got ? got.value() : nullptr;
}

std::optional<int64_t> Resolver::declared_length(const Dictionary& dict) const {
  const Object* length = dict.get("Length");
  if (!length) return std::nullopt;
  const Object* value = deref(*length);
  if (!value || !value->is_int() || value->as_int() < 0) return std::nullopt;
  return value->as_int();
}

}  // namespace vellum
