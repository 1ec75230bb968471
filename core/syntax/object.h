// The PDF object model (the ten variants), the library's error type and the
// value-or-error result that every fallible operation returns.
//
// Ownership: an Object owns what it contains and copies deeply. Stream data is
// the exception that keeps parsing cheap: it is either a view into the file's
// bytes (which outlive every object of the document) or a buffer shared
// immutably between copies (decrypted data). Nothing ever writes through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vellum {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

inline ByteSpan as_bytes(std::string_view s) {
  return ByteSpan(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
inline std::string_view as_chars(ByteSpan b) {
  return std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
}

// ---------------------------------------------------------------- errors

enum class ErrorKind : uint8_t {
  InvalidHeader,
  InvalidXref,
  InvalidObject,
  UnexpectedToken,
  UnexpectedEof,
  BadStream,
  MissingTrailer,
  ObjectNotFound,
  Unsupported,
  InvalidPassword,
  // A page index outside the document (the Python layer raises IndexError).
  PageOutOfRange,
};

const char* kind_name(ErrorKind kind);

struct Error {
  ErrorKind kind;
  std::string message;

  // "Kind: message", the text the Python layer raises.
  std::string display() const;
  bool operator==(const Error&) const = default;
};

// Value or Error. Construct from either; test with ok() or operator bool.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const& { return std::get<1>(v_); }
  Error&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, Error> v_;
};

struct Unit {};
using Status = Result<Unit>;

#define VELLUM_CAT_(a, b) a##b
#define VELLUM_CAT(a, b) VELLUM_CAT_(a, b)
// VELLUM_TRY(auto x, expr): evaluate a Result, return its error early,
// otherwise bind its value.
#define VELLUM_TRY(decl, expr)                                        \
  auto VELLUM_CAT(vellum_r_, __LINE__) = (expr);                      \
  if (!VELLUM_CAT(vellum_r_, __LINE__))                               \
    return std::move(VELLUM_CAT(vellum_r_, __LINE__)).error();        \
  decl = std::move(VELLUM_CAT(vellum_r_, __LINE__)).value()
// VELLUM_CHECK(expr): propagate the error of a Status (or any Result).
#define VELLUM_CHECK(expr)                                            \
  do {                                                                \
    auto vellum_s_ = (expr);                                          \
    if (!vellum_s_) return std::move(vellum_s_).error();              \
  } while (0)

inline Error make_error(ErrorKind kind, std::string message) {
  return Error{kind, std::move(message)};
}

// ---------------------------------------------------------------- objects

struct Ref {
  uint32_t num = 0;
  uint16_t gen = 0;
  bool operator==(const Ref&) const = default;
};

class Object;

// Ordered, unique-key name/value pairs with first-match lookup.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Object>;

  Dictionary() = default;

  // First entry with this key, or nullptr. Never resolves references.
  const Object* get(std::string_view key) const;
  Object* get_mut(std::string_view key);
  bool contains(std::string_view key) const { return get(key) != nullptr; }

  // Replace the value of an existing key in place, or append.
  void insert(std::string key, Object value);
  // Append without the duplicate check; the caller guarantees uniqueness.
  void append_unique(std::string key, Object value);

  // Typed views: a value of another variant counts as absent.
  std::optional<int64_t> get_int(std::string_view key) const;
  std::optional<double> get_number(std::string_view key) const;
  const std::string* get_name(std::string_view key) const;
  const std::vector<Object>* get_array(std::string_view key) const;
  const Dictionary* get_dict(std::string_view key) const;

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<Entry>& entries_mut() { return entries_; }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  void reserve(size_t n) { entries_.reserve(n); }

 private:
  std::vector<Entry> entries_;
};

// A stream: its dictionary and its (still encoded) data.
class Stream {
 public:
  Dictionary dict;

  Stream() = default;
  Stream(Dictionary d, ByteSpan borrowed) : dict(std::move(d)), data_(borrowed) {}
  Stream(Dictionary d, Bytes owned) : dict(std::move(d)) { set_owned(std::move(owned)); }

  ByteSpan data() const { return data_; }
  // Data that lives at least as long as the file's bytes.
  void set_borrowed(ByteSpan s) {
    owned_.reset();
    data_ = s;
  }
  void set_owned(Bytes b) {
    owned_ = std::make_shared<const Bytes>(std::move(b));
    data_ = ByteSpan(owned_->data(), owned_->size());
  }

 private:
  std::shared_ptr<const Bytes> owned_;
  ByteSpan data_;
};

struct Name {
  std::string text;
};
struct String {
  std::string bytes;
};

class Object {
 public:
  enum class Type : uint8_t { Null, Bool, Integer, Real, String, Name, Array, Dictionary, Stream, Reference };

  Object() = default;
  static Object null() { return Object(); }
  static Object boolean(bool b) { return Object(V(std::in_place_index<1>, b)); }
  static Object integer(int64_t i) { return Object(V(std::in_place_index<2>, i)); }
  static Object real(double d) { return Object(V(std::in_place_index<3>, d)); }
  static Object string(std::string bytes) { return Object(V(std::in_place_index<4>, String{std::move(bytes)})); }
  static Object name(std::string text) { return Object(V(std::in_place_index<5>, Name{std::move(text)})); }
  static Object array(std::vector<Object> items) { return Object(V(std::in_place_index<6>, std::move(items))); }
  static Object dictionary(Dictionary d) { return Object(V(std::in_place_index<7>, std::move(d))); }
  static Object stream(Stream s) { return Object(V(std::in_place_index<8>, std::move(s))); }
  static Object reference(Ref r) { return Object(V(std::in_place_index<9>, r)); }

  Type type() const { return static_cast<Type>(v_.index()); }
  bool is_null() const { return v_.index() == 0; }
  bool is_bool() const { return v_.index() == 1; }
  bool is_int() const { return v_.index() == 2; }
  bool is_real() const { return v_.index() == 3; }
  bool is_number() const { return is_int() || is_real(); }
  bool is_string() const { return v_.index() == 4; }
  bool is_name() const { return v_.index() == 5; }
  bool is_array() const { return v_.index() == 6; }
  bool is_dict() const { return v_.index() == 7; }
  bool is_stream() const { return v_.index() == 8; }
  bool is_ref() const { return v_.index() == 9; }

  // Unchecked accessors: call only after the matching is_*().
  bool as_bool() const { return std::get<1>(v_); }
  int64_t as_int() const { return std::get<2>(v_); }
  double as_real() const { return std::get<3>(v_); }
  double as_number() const { return is_int() ? static_cast<double>(as_int()) : as_real(); }
  const std::string& as_string() const { return std::get<4>(v_).bytes; }
  std::string& as_string_mut() { return std::get<4>(v_).bytes; }
  const std::string& as_name() const { return std::get<5>(v_).text; }
  std::string& as_name_mut() { return std::get<5>(v_).text; }
  const std::vector<Object>& as_array() const { return std::get<6>(v_); }
  std::vector<Object>& as_array_mut() { return std::get<6>(v_); }
  const Dictionary& as_dict() const { return std::get<7>(v_); }
  Dictionary& as_dict_mut() { return std::get<7>(v_); }
  const Stream& as_stream() const { return std::get<8>(v_); }
  Stream& as_stream_mut() { return std::get<8>(v_); }
  Ref as_ref() const { return std::get<9>(v_); }

  // Checked views: nullptr / nullopt when the variant differs.
  std::optional<int64_t> int_value() const { return is_int() ? std::optional(as_int()) : std::nullopt; }
  std::optional<double> number_value() const { return is_number() ? std::optional(as_number()) : std::nullopt; }
  const std::string* name_value() const { return is_name() ? &as_name() : nullptr; }
  const std::string* string_value() const { return is_string() ? &as_string() : nullptr; }
  const std::vector<Object>* array_value() const { return is_array() ? &as_array() : nullptr; }
  const Dictionary* dict_value() const { return is_dict() ? &as_dict() : nullptr; }
  // The dictionary of a Dictionary, or of a Stream.
  const Dictionary* dict_or_stream_dict() const {
    if (is_dict()) return &as_dict();
    if (is_stream()) return &as_stream().dict;
    return nullptr;
  }
  const Stream* stream_value() const { return is_stream() ? &as_stream() : nullptr; }

 private:
  using V = std::variant<std::monostate, bool, int64_t, double, String, Name, std::vector<Object>, Dictionary, Stream, Ref>;
  explicit Object(V v) : v_(std::move(v)) {}
  V v_;
};

}  // namespace vellum
