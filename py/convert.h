// Conversion of an extracted document into plain Python objects, and the
// small reference-owning handle that the module's C code shares.
#pragma once

#include <Python.h>

#include <string_view>

#include "extract/info.h"
#include "model/extracted_doc.h"

namespace vellum::py {

// Owns one strong reference; releases it on destruction unless released.
class Owned {
 public:
  Owned() = default;
  explicit Owned(PyObject* p) : p_(p) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) {
      Py_XDECREF(p_);
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  ~Owned() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  PyObject* release() {
    PyObject* p = p_;
    p_ = nullptr;
    return p;
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// A new str from UTF-8 text. Invalid sequences become U+FFFD instead of
// failing the call, the same replacement for every output so that the dict
// and the decoded JSON stay equal. nullptr only when the interpreter fails.
PyObject* str_from_utf8(std::string_view text);

// The document as the dict that json.loads(to_json()) would give: the same
// keys in the same order, finite floats as float, non-finite ones as None,
// counts as int. nullptr with a Python error set when the interpreter fails
// to create an object.
PyObject* to_python(const ExtractedDoc& doc);

}  // namespace vellum::py

namespace vellum::py {

// The dict of vellum.info(): pages, version, encrypted, encryption, the six
// information strings, the two dates and the outline, in that key order;
// absent values are None. nullptr with a Python error set on failure.
PyObject* info_to_python(const DocumentInfo& info);

}  // namespace vellum::py
