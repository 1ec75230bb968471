// The extension module vellum._vellum on the limited API (abi3): the four
// parse functions, their argument matching, and the mapping of failures.
//
// Each call reads the caller's bytes in place, opens the document, extracts
// it and renders one output; nothing survives the call. The opening,
// extraction and rendering run without the interpreter lock, so other
// threads run meanwhile; only the arguments and the result objects are
// handled with it held. A damaged file read by recovery (the default;
// strict=True turns it off) issues a RecoveryWarning saying what was
// repaired: the text is recorded while the lock is released and the warning
// issued once it is held again. Failures map as:
//   * a library Error            -> ValueError("Kind: message"); a password
//                                   the document rejects -> PasswordError, a
//                                   subclass of ValueError
//   * a page index out of range  -> IndexError
//   * bad arguments              -> TypeError, worded like the interpreter's own
//   * memory running out (std::bad_alloc anywhere below, or the interpreter's
//     own MemoryError while building the result)
//                                -> MemoryError, as the interpreter reports it
//   * a C++ exception or the interpreter failing to build the result
//                                -> InternalError, derived from BaseException so
//                                   that `except Exception` does not hide it.
// The argument matching is hand-written because the limited API of 3.9 has no
// parser for (data, password=None, *, strict=False, ...) that gives these
// exact messages.
#include <Python.h>

#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "convert.h"
#include "extract/extract.h"
#include "extract/info.h"
#include "extract/serialize.h"

namespace vellum::py {
namespace {

// Set once at initialisation. The module is single-phase and created once per
// process, so these are never replaced while in use.
PyObject* internal_error = nullptr;
PyObject* password_error = nullptr;
PyObject* recovery_warning = nullptr;
bool initialised = false;

enum class Output { Dict, Json, Html, Markdown };

// Raises InternalError, chaining whatever exception is pending (for example
// the MemoryError of a failed allocation) as its cause.
void raise_internal(const char* what) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value && traceback) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);

  Owned exc(PyObject_CallFunction(internal_error, "s", what));
  if (!exc) {
    // Not even the exception could be built: report the original failure.
    Py_XDECREF(value);
    return;
  }
  if (value) {
    Py_INCREF(value);
    PyException_SetCause(exc.get(), value);  // steals one reference
    PyException_SetContext(exc.get(), value);  // steals the other
  }
  PyErr_SetObject(internal_error, exc.get());
}

void raise_library_error(const Error& error) {
  // Messages are fixed ASCII texts, but an unsupported filter's name comes
  // from the file; decode leniently so the message is never lost. A page
  // index out of range is the caller's IndexError, worded without the kind.
  bool index_error = error.kind == ErrorKind::PageOutOfRange;
  Owned text(str_from_utf8(index_error ? error.message : error.display()));
  if (!text) {
    raise_internal("could not build the error message");
    return;
  }
  PyObject* type = PyExc_ValueError;
  if (error.kind == ErrorKind::InvalidPassword) type = password_error;
  if (index_error) type = PyExc_IndexError;
  PyErr_SetObject(type, text.get());
}

// "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"
void raise_conversion_error(const char* param, PyObject* value, const char* target) {
  Owned qualname(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
  if (!qualname || !PyUnicode_Check(qualname.get())) {
    PyErr_Clear();
    qualname = Owned(PyUnicode_FromString("?"));
    if (!qualname) return;
  }
  PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", param, qualname.get(),
               target);
}

// The arguments of one call, borrowed from the caller; nullptr when absent.
struct Arguments {
  PyObject* data = nullptr;
  PyObject* password = nullptr;
  PyObject* strict = nullptr;
  PyObject* pages = nullptr;
  PyObject* default_title = nullptr;
  PyObject* format = nullptr;
  // Keyword-only arguments get a member here and one line in the tables below.
};

struct Param {
  const char* name;
  PyObject* Arguments::*slot;
};

// (data, password=None, *, <keyword-only>): `data` is the one required argument.
constexpr Param kPositional[] = {{"data", &Arguments::data}, {"password", &Arguments::password}};
constexpr Param kKeywordOnly[] = {{"strict", &Arguments::strict}, {"pages", &Arguments::pages}};
constexpr Param kHtmlKeywordOnly[] = {
    {"strict", &Arguments::strict}, {"pages", &Arguments::pages}, {"default_title", &Arguments::default_title}};
constexpr Param kInfoKeywordOnly[] = {{"strict", &Arguments::strict}};
constexpr Param kConvertKeywordOnly[] = {{"strict", &Arguments::strict},
                                         {"pages", &Arguments::pages},
                                         {"default_title", &Arguments::default_title},
                                         {"format", &Arguments::format}};
constexpr Py_ssize_t kMaxPositional = std::size(kPositional);

// Matches the call like the interpreter matches a Python function's
// parameters: too many positionals first, then each keyword in order
// (unknown, or already given positionally), then the missing `data`.
bool match_arguments(const char* fn, PyObject* args, PyObject* kwargs, std::span<const Param> keyword_only,
                     Arguments& out) {
  Py_ssize_t given = PyTuple_Size(args);
  if (given < 0) return false;
  if (given > kMaxPositional) {
    PyErr_Format(PyExc_TypeError, "%s() takes from 1 to %zd positional arguments but %zd %s given", fn, kMaxPositional,
                 given, given == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < given; ++i) out.*kPositional[i].slot = PyTuple_GetItem(args, i);

  if (kwargs) {
    PyObject *key = nullptr, *value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", fn);
        return false;
      }
      const Param* param = nullptr;
      Py_ssize_t index = 0;
      for (const Param& p : kPositional) {
        if (PyUnicode_CompareWithASCIIString(key, p.name) == 0) param = &p;
        if (!param) ++index;
      }
      for (const Param& p : keyword_only) {
        if (!param && p.slot && PyUnicode_CompareWithASCIIString(key, p.name) == 0) param = &p;
      }
      if (!param) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fn, key);
        return false;
      }
      if (index < given) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fn, param->name);
        return false;
      }
      out.*param->slot = value;
    }
  }
  if (!out.data) {
    PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: 'data'", fn);
    return false;
  }
  return true;
}

// The page indices of `pages=`: None (every page) or an iterable of ints
// that is not a str or bytes-like. An int too large for 64 bits stays out
// of range (the library reports it with the page count).
bool read_pages(PyObject* pages, std::vector<int64_t>& out, bool& all) {
  all = pages == nullptr || pages == Py_None;
  if (all) return true;
  if (PyUnicode_Check(pages) || PyBytes_Check(pages) || PyByteArray_Check(pages)) {
    PyErr_SetString(PyExc_TypeError, "pages must be a sequence of int page indices, not a string");
    return false;
  }
  // The interpreter's own TypeErrors say what is wrong: "'int' object is not
  // iterable", "'float' object cannot be interpreted as an integer".
  Owned iter(PyObject_GetIter(pages));
  if (!iter) return false;
  while (Owned item{PyIter_Next(iter.get())}) {
    Owned index(PyNumber_Index(item.get()));
    if (!index) return false;
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) return false;
    if (overflow) value = overflow > 0 ? INT64_MAX : INT64_MIN;
    out.push_back(value);
  }
  return !PyErr_Occurred();
}

// An optional str argument as UTF-8 (`holder` keeps the bytes alive).
bool read_text(const char* param, PyObject* value, Owned& holder, ByteSpan& out) {
  if (!value || value == Py_None) return true;
  if (!PyUnicode_Check(value)) {
    raise_conversion_error(param, value, "PyString");
    return false;
  }
  holder = Owned(PyUnicode_AsUTF8String(value));  // raises on lone surrogates
  if (!holder) return false;
  out = ByteSpan(reinterpret_cast<const uint8_t*>(PyBytes_AsString(holder.get())),
                 static_cast<size_t>(PyBytes_Size(holder.get())));
  return true;
}

// `strict=`: any object, taken by truth value as a bool parameter takes it;
// absent means recovering reading.
bool read_reading(PyObject* strict, Reading& out) {
  out = Reading::Recover;
  if (!strict) return true;
  int value = PyObject_IsTrue(strict);
  if (value < 0) return false;
  if (value) out = Reading::Strict;
  return true;
}

// `format=` of _convert: "markdown" (also when absent), "json", "html" or "dict".
bool read_format(PyObject* value, Output& out) {
  out = Output::Markdown;
  if (!value) return true;
  constexpr std::pair<const char*, Output> kFormats[] = {
      {"markdown", Output::Markdown}, {"json", Output::Json}, {"html", Output::Html}, {"dict", Output::Dict}};
  if (PyUnicode_Check(value)) {
    for (const auto& [name, output] : kFormats) {
      if (PyUnicode_CompareWithASCIIString(value, name) == 0) {
        out = output;
        return true;
      }
    }
  }
  PyErr_Format(PyExc_ValueError, "format must be one of markdown, json, html, dict, not %R", value);
  return false;
}

// Issues the RecoveryWarning of a document read by recovery ("" for none).
// False when the warnings filter turned it into an exception, which is then set.
bool warn_recovered(const std::string& note) {
  return note.empty() || PyErr_WarnEx(recovery_warning, note.c_str(), 1) == 0;
}

// Releases the interpreter lock for its lifetime; the destructor takes it
// back, also when an exception unwinds through. Nothing of the interpreter
// may be touched while it lives.
class WithoutInterpreterLock {
 public:
  WithoutInterpreterLock() : state_(PyEval_SaveThread()) {}
  ~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }
  WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
  WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;

 private:
  PyThreadState* state_;
};

// What the work done without the interpreter lock hands back: an error, or
// the document (for the dict) or its rendering (for the text outputs), with
// the note of what recovery repaired ("" for a file read as it is).
struct Outcome {
  std::optional<Error> error;
  ExtractedDoc doc;
  std::string text;
  std::string note;
};

Outcome extract_and_render(ByteSpan data, ByteSpan password, Reading reading, PageSelection selection, Output output,
                           std::string_view default_title) {
  Outcome out;
  std::optional<ExtractedDoc> extracted;
  std::string title;
  {
    Result<Document> doc = Document::parse_with_password(data, password, reading);
    Result<ExtractedDoc> got = doc ? extract(*doc, selection) : Result<ExtractedDoc>(doc.error());
    if (!got) {
      out.error = got.error();
      return out;
    }
    extracted = std::move(got).value();
    if (output == Output::Html) title = document_title(*doc);
    out.note = doc->recovery_note();  // includes what the extraction's lookups repaired
  }  // the document's objects are freed before the rendering is built
  switch (output) {
    case Output::Dict: out.doc = std::move(*extracted); break;
    case Output::Json: out.text = to_json(*extracted); break;
    case Output::Html: out.text = to_html(*extracted, title.empty() ? default_title : std::string_view(title)); break;
    case Output::Markdown: out.text = to_markdown(*extracted); break;
  }
  return out;
}

// The caller's bytes: its reference keeps them alive for the call, and a
// bytes object cannot change, so they are read without the lock.
bool read_data(PyObject* value, ByteSpan& out) {
  if (!PyBytes_Check(value)) {
    raise_conversion_error("data", value, "PyBytes");
    return false;
  }
  char* data = PyBytes_AsString(value);
  Py_ssize_t size = PyBytes_Size(value);
  if (!data || size < 0) return false;
  out = ByteSpan(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(size));
  return true;
}

// One of the four functions (`fixed` is its output), or, without `fixed`,
// the private _convert: the output named by `format=` and, instead of a
// warning, the pair (result, note of what recovery repaired or ""), for
// vellum.batch to issue the warning in the thread that consumes the results.
PyObject* run(const char* fn, PyObject* args, PyObject* kwargs, std::optional<Output> fixed) noexcept {
  try {
    Arguments a;
    std::span<const Param> keyword_only = !fixed                  ? std::span<const Param>(kConvertKeywordOnly)
                                          : *fixed == Output::Html ? std::span<const Param>(kHtmlKeywordOnly)
                                                                   : std::span<const Param>(kKeywordOnly);
    if (!match_arguments(fn, args, kwargs, keyword_only, a)) return nullptr;
    Output output = fixed.value_or(Output::Markdown);
    if (!fixed && !read_format(a.format, output)) return nullptr;
    ByteSpan data, password, default_title;
    Owned password_utf8, title_utf8;
    std::vector<int64_t> indices;
    PageSelection selection;
    Reading reading;
    if (!read_data(a.data, data) || !read_text("password", a.password, password_utf8, password) ||
        !read_reading(a.strict, reading) || !read_pages(a.pages, indices, selection.all) ||
        !read_text("default_title", a.default_title, title_utf8, default_title))
      return nullptr;
    selection.indices = indices;
    std::string_view title = a.default_title && a.default_title != Py_None ? std::string_view(as_chars(default_title))
                                                                          : std::string_view("vellum");

    Outcome outcome;
    {
      WithoutInterpreterLock unlocked;
      outcome = extract_and_render(data, password, reading, selection, output, title);
    }
    if (outcome.error) {
      raise_library_error(*outcome.error);
      return nullptr;
    }
    if (fixed && !warn_recovered(outcome.note)) return nullptr;
    Owned result(output == Output::Dict ? to_python(outcome.doc) : str_from_utf8(outcome.text));
    Owned note(fixed || !result ? nullptr : str_from_utf8(outcome.note));
    PyObject* pair = note ? PyTuple_Pack(2, result.get(), note.get()) : nullptr;
    if (!result || (!fixed && !pair)) {
      if (!PyErr_ExceptionMatches(PyExc_MemoryError)) raise_internal("could not create the result object");
      return nullptr;
    }
    return fixed ? result.release() : pair;
  } catch (const std::bad_alloc&) {
    // Everything below unwinds by RAII (the lock is taken back first), so
    // nothing is left half-built.
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_internal(e.what());
  } catch (...) {
    raise_internal("unknown internal error");
  }
  return nullptr;
}

PyObject* parse(PyObject*, PyObject* args, PyObject* kwargs) { return run("parse", args, kwargs, Output::Dict); }
PyObject* parse_to_json(PyObject*, PyObject* args, PyObject* kwargs) {
  return run("parse_to_json", args, kwargs, Output::Json);
}
PyObject* parse_to_html(PyObject*, PyObject* args, PyObject* kwargs) {
  return run("parse_to_html", args, kwargs, Output::Html);
}
PyObject* parse_to_markdown(PyObject*, PyObject* args, PyObject* kwargs) {
  return run("parse_to_markdown", args, kwargs, Output::Markdown);
}
PyObject* convert(PyObject*, PyObject* args, PyObject* kwargs) { return run("_convert", args, kwargs, std::nullopt); }

PyObject* info(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
  try {
    Arguments a;
    if (!match_arguments("info", args, kwargs, kInfoKeywordOnly, a)) return nullptr;
    ByteSpan data, password;
    Owned password_utf8;
    Reading reading;
    if (!read_data(a.data, data) || !read_text("password", a.password, password_utf8, password) ||
        !read_reading(a.strict, reading))
      return nullptr;

    std::optional<Error> error;
    DocumentInfo found;
    std::string note;
    {
      WithoutInterpreterLock unlocked;
      Result<Document> doc = Document::parse_with_password(data, password, reading);
      Result<DocumentInfo> read = doc ? read_info(*doc) : Result<DocumentInfo>(doc.error());
      if (read) {
        found = std::move(read).value();
        note = doc->recovery_note();
      } else {
        error = read.error();
      }
    }
    if (error) {
      raise_library_error(*error);
      return nullptr;
    }
    if (!warn_recovered(note)) return nullptr;
    PyObject* result = info_to_python(found);
    if (!result && !PyErr_ExceptionMatches(PyExc_MemoryError)) raise_internal("could not create the result object");
    return result;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_internal(e.what());
  } catch (...) {
    raise_internal("unknown internal error");
  }
  return nullptr;
}

template <PyObject* (*F)(PyObject*, PyObject*, PyObject*)>
PyCFunction as_cfunction() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

PyMethodDef methods[] = {
    {"parse", as_cfunction<parse>(), METH_VARARGS | METH_KEYWORDS,
     "parse(data, password=None, *, strict=False, pages=None)\n--\n\nParse a PDF and return the extracted document "
     "as a native Python dict."},
    {"parse_to_json", as_cfunction<parse_to_json>(), METH_VARARGS | METH_KEYWORDS,
     "parse_to_json(data, password=None, *, strict=False, pages=None)\n--\n\nParse a PDF and return its extracted "
     "form as pretty JSON."},
    {"parse_to_html", as_cfunction<parse_to_html>(), METH_VARARGS | METH_KEYWORDS,
     "parse_to_html(data, password=None, *, strict=False, pages=None, default_title=None)\n--\n\nParse a PDF and "
     "render it to a standalone HTML document."},
    {"parse_to_markdown", as_cfunction<parse_to_markdown>(), METH_VARARGS | METH_KEYWORDS,
     "parse_to_markdown(data, password=None, *, strict=False, pages=None)\n--\n\nParse a PDF and render it to "
     "Markdown."},
    {"info", as_cfunction<info>(), METH_VARARGS | METH_KEYWORDS,
     "info(data, password=None, *, strict=False)\n--\n\nRead a PDF's page count, version, encryption, document information and "
     "outline without extracting any page."},
    {"_convert", as_cfunction<convert>(), METH_VARARGS | METH_KEYWORDS,
     "_convert(data, password=None, *, strict=False, pages=None, default_title=None, format='markdown')\n--\n\n"
     "For vellum.batch: the rendering named by `format` and the note of what recovery repaired (\"\" for none), "
     "as a pair, instead of a RecoveryWarning."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_vellum",
    "The native extension module (`vellum._vellum`).",
    -1,
    nullptr,  // functions are added one by one, so that __all__ follows them
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Creates vellum._vellum.<name> derived from `base` and adds it to the
// module; returns a reference the caller keeps for the process's life, or
// nullptr with an exception set.
PyObject* add_exception(PyObject* module, const char* name, const char* doc, PyObject* base) {
  std::string qualified = std::string("vellum._vellum.") + name;
  Owned type(PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr));
  if (!type) return nullptr;
  Py_INCREF(type.get());
  if (PyModule_AddObject(module, name, type.get()) < 0) {
    Py_DECREF(type.get());
    return nullptr;
  }
  return type.release();  // the module holds another reference
}

PyObject* create_module() noexcept {
  if (initialised) {
    PyErr_SetString(PyExc_ImportError, "vellum._vellum is already initialised in this process");
    return nullptr;
  }
  Owned module(PyModule_Create(&module_def));
  if (!module) return nullptr;

  Owned module_name(PyModule_GetNameObject(module.get()));
  Owned all(PyList_New(0));
  if (!module_name || !all) return nullptr;
  for (PyMethodDef* def = methods; def->ml_name; ++def) {
    Owned fn(PyCFunction_NewEx(def, nullptr, module_name.get()));
    if (!fn) return nullptr;
    if (PyModule_AddObject(module.get(), def->ml_name, fn.get()) < 0) return nullptr;
    Py_INCREF(fn.get());  // PyModule_AddObject stole the reference on success
    if (def->ml_name[0] == '_') continue;  // private: not in __all__
    Owned name(PyUnicode_FromString(def->ml_name));
    if (!name || PyList_Append(all.get(), name.get()) < 0) return nullptr;
  }
  if (PyModule_AddObject(module.get(), "__all__", all.get()) < 0) return nullptr;
  all.release();

  internal_error = add_exception(
      module.get(), "InternalError",
      "A fault inside vellum itself (a broken invariant, or the interpreter failing to build a result). "
      "Derived from BaseException so that handlers of Exception do not swallow it.",
      PyExc_BaseException);
  if (!internal_error) return nullptr;
  password_error = add_exception(
      module.get(), "PasswordError",
      "The document is encrypted and the password given (or none) is neither its user nor its owner password. "
      "A subclass of ValueError.",
      PyExc_ValueError);
  if (!password_error) return nullptr;
  recovery_warning = add_exception(
      module.get(), "RecoveryWarning",
      "A damaged file was read by repairing its structure (a rebuilt cross-reference table); "
      "the message says what was wrong. Pass strict=True to get an error instead.",
      PyExc_UserWarning);
  if (!recovery_warning) return nullptr;
  initialised = true;
  return module.release();
}

}  // namespace
}  // namespace vellum::py

PyMODINIT_FUNC PyInit__vellum(void) { return vellum::py::create_module(); }
