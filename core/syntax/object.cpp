#include "syntax/object.h"

namespace vellum {

const char* kind_name(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::InvalidHeader: return "InvalidHeader";
    case ErrorKind::InvalidXref: return "InvalidXref";
    case ErrorKind::InvalidObject: return "InvalidObject";
    case ErrorKind::UnexpectedToken: return "UnexpectedToken";
    case ErrorKind::UnexpectedEof: return "UnexpectedEof";
    case ErrorKind::BadStream: return "BadStream";
    case ErrorKind::MissingTrailer: return "MissingTrailer";
    case ErrorKind::ObjectNotFound: return "ObjectNotFound";
    case ErrorKind::Unsupported: return "Unsupported";
    case ErrorKind::InvalidPassword: return "InvalidPassword";
    case ErrorKind::PageOutOfRange: return "PageOutOfRange";
  }
  return "Unsupported";
}

std::string Error::display() const {
  std::string out = kind_name(kind);
  out += ": ";
  out += message;
  return out;
}

const Object* Dictionary::get(std::string_view key) const {
  for (const Entry& e : entries_)
    if (e.first == key) return &e.second;
  return nullptr;
}

Object* Dictionary::get_mut(std::string_view key) {
  for (Entry& e : entries_)
    if (e.first == key) return &e.second;
  return nullptr;
}

void Dictionary::insert(std::string key, Object value) {
  if (Object* existing = get_mut(key)) {
    *existing = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

void Dictionary::append_unique(std::string key, Object value) {
  entries_.emplace_back(std::move(key), std::move(value));
}

std::optional<int64_t> Dictionary::get_int(std::string_view key) const {
  const Object* o = get(key);
  return o ? o->int_value() : std::nullopt;
}

std::optional<double> Dictionary::get_number(std::string_view key) const {
  const Object* o = get(key);
  return o ? o->number_value() : std::nullopt;
}

const std::string* Dictionary::get_name(std::string_view key) const {
  const Object* o = get(key);
  return o ? o->name_value() : nullptr;
}

const std::vector<Object>* Dictionary::get_array(std::string_view key) const {
  const Object* o = get(key);
  return o ? o->array_value() : nullptr;
}

const Dictionary* Dictionary::get_dict(std::string_view key) const {
  const Object* o = get(key);
  return o ? o->dict_value() : nullptr;
}

}  // namespace vellum
