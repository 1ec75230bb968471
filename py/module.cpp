// The extension module vellum._vellum on the limited API (abi3): the four
// parse functions, their argument matching, and the mapping of failures.
//
// Each call reads the caller's bytes in place, opens the document, extracts
// it and renders one output; nothing survives the call. Failures map as:
//   * a library Error            -> ValueError("Kind: message"); a password
//                                   the document rejects -> PasswordError, a
//                                   subclass of ValueError
//   * bad arguments              -> TypeError, worded like the interpreter's own
//   * memory running out (std::bad_alloc anywhere below, or the interpreter's
//     own MemoryError while building the result)
//                                -> MemoryError, as the interpreter reports it
//   * a C++ exception or the interpreter failing to build the result
//                                -> InternalError, derived from BaseException so
//                                   that `except Exception` does not hide it.
// The argument matching is hand-written because the limited API of 3.9 has no
// parser for (data, password=None, *, strict=False) that gives these exact
// messages. A damaged file read by recovery (the default; strict=True turns it
// off) issues a RecoveryWarning saying what was repaired.
#include <Python.h>

#include <exception>
#include <new>
#include <string>

#include "convert.h"
#include "extract/extract.h"
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
  // from the file; decode leniently so the message is never lost.
  Owned text(str_from_utf8(error.display()));
  if (!text) {
    raise_internal("could not build the error message");
    return;
  }
  PyErr_SetObject(error.kind == ErrorKind::InvalidPassword ? password_error : PyExc_ValueError, text.get());
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

struct Arguments {
  PyObject* data = nullptr;      // borrowed
  PyObject* password = nullptr;  // borrowed; nullptr when absent
  PyObject* strict = nullptr;    // borrowed; nullptr when absent
};

// The parameters; those from kPositional on are keyword-only.
constexpr const char* kParams[] = {"data", "password", "strict"};
constexpr int kPositional = 2;
constexpr int kParamCount = sizeof kParams / sizeof kParams[0];

// Matches (data, password=None, *, strict=False) like the interpreter matches a Python
// function's parameters: too many positionals first, then each keyword in
// order (unknown, or already given positionally), then the missing `data`.
bool match_arguments(const char* fn, PyObject* args, PyObject* kwargs, Arguments& out) {
  Py_ssize_t given = PyTuple_Size(args);
  if (given < 0) return false;
  if (given > kPositional) {
    PyErr_Format(PyExc_TypeError, "%s() takes from 1 to 2 positional arguments but %zd %s given", fn, given,
                 given == 1 ? "was" : "were");
    return false;
  }
  PyObject* slots[kParamCount] = {};
  for (Py_ssize_t i = 0; i < given; ++i) slots[i] = PyTuple_GetItem(args, i);

  if (kwargs) {
    PyObject *key = nullptr, *value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", fn);
        return false;
      }
      int index = -1;
      for (int p = 0; p < kParamCount; ++p) {
        if (PyUnicode_CompareWithASCIIString(key, kParams[p]) == 0) index = p;
      }
      if (index < 0) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fn, key);
        return false;
      }
      if (index < given) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fn, kParams[index]);
        return false;
      }
      slots[index] = value;
    }
  }
  if (!slots[0]) {
    PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: 'data'", fn);
    return false;
  }
  out.data = slots[0];
  out.password = slots[1];
  out.strict = slots[2];
  return true;
}

// The rendered result as a new reference, or nullptr with an exception set.
PyObject* render(const ExtractedDoc& doc, Output output) {
  PyObject* result = nullptr;
  switch (output) {
    case Output::Dict: result = to_python(doc); break;
    case Output::Json: result = str_from_utf8(to_json(doc)); break;
    case Output::Html: result = str_from_utf8(to_html(doc)); break;
    case Output::Markdown: result = str_from_utf8(to_markdown(doc)); break;
  }
  if (!result && !PyErr_ExceptionMatches(PyExc_MemoryError)) raise_internal("could not create the result object");
  return result;
}

PyObject* run(const char* fn, PyObject* args, PyObject* kwargs, Output output) noexcept {
  try {
    Arguments a;
    if (!match_arguments(fn, args, kwargs, a)) return nullptr;

    if (!PyBytes_Check(a.data)) {
      raise_conversion_error("data", a.data, "PyBytes");
      return nullptr;
    }
    char* data = PyBytes_AsString(a.data);
    Py_ssize_t size = PyBytes_Size(a.data);
    if (!data || size < 0) return nullptr;

    Owned password_utf8;
    ByteSpan password;
    if (a.password && a.password != Py_None) {
      if (!PyUnicode_Check(a.password)) {
        raise_conversion_error("password", a.password, "PyString");
        return nullptr;
      }
      password_utf8 = Owned(PyUnicode_AsUTF8String(a.password));  // raises on lone surrogates
      if (!password_utf8) return nullptr;
      password = ByteSpan(reinterpret_cast<const uint8_t*>(PyBytes_AsString(password_utf8.get())),
                          static_cast<size_t>(PyBytes_Size(password_utf8.get())));
    }

    Reading reading = Reading::Recover;
    if (a.strict) {
      int strict = PyObject_IsTrue(a.strict);  // any object, as a bool parameter takes it
      if (strict < 0) return nullptr;
      if (strict) reading = Reading::Strict;
    }

    // The caller's reference keeps `data` alive and immutable for the call.
    Result<Document> doc = Document::parse_with_password(
        ByteSpan(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(size)), password, reading);
    if (!doc) {
      raise_library_error(doc.error());
      return nullptr;
    }
    Result<ExtractedDoc> extracted = extract(*doc);
    if (!extracted) {
      raise_library_error(extracted.error());
      return nullptr;
    }
    if (std::string note = doc->recovery_note(); !note.empty()) {
      // Raises when the warnings filter turns the warning into an error.
      if (PyErr_WarnEx(recovery_warning, note.c_str(), 1) < 0) return nullptr;
    }
    return render(*extracted, output);
  } catch (const std::bad_alloc&) {
    // Everything below unwinds by RAII, so nothing is left half-built.
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

template <PyObject* (*F)(PyObject*, PyObject*, PyObject*)>
PyCFunction as_cfunction() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

PyMethodDef methods[] = {
    {"parse", as_cfunction<parse>(), METH_VARARGS | METH_KEYWORDS,
     "parse(data, password=None, *, strict=False)\n--\n\nParse a PDF and return the extracted document as a native Python dict."},
    {"parse_to_json", as_cfunction<parse_to_json>(), METH_VARARGS | METH_KEYWORDS,
     "parse_to_json(data, password=None, *, strict=False)\n--\n\nParse a PDF and return its extracted form as pretty JSON."},
    {"parse_to_html", as_cfunction<parse_to_html>(), METH_VARARGS | METH_KEYWORDS,
     "parse_to_html(data, password=None, *, strict=False)\n--\n\nParse a PDF and render it to a standalone HTML document."},
    {"parse_to_markdown", as_cfunction<parse_to_markdown>(), METH_VARARGS | METH_KEYWORDS,
     "parse_to_markdown(data, password=None, *, strict=False)\n--\n\nParse a PDF and render it to Markdown."},
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
    Owned name(PyUnicode_FromString(def->ml_name));
    if (!name || PyList_Append(all.get(), name.get()) < 0) return nullptr;
  }
  if (PyModule_AddObject(module.get(), "__all__", all.get()) < 0) return nullptr;
  all.release();

  Owned error(PyErr_NewExceptionWithDoc(
      "vellum._vellum.InternalError",
      "A fault inside vellum itself (a broken invariant, or the interpreter failing to build a result). "
      "Derived from BaseException so that handlers of Exception do not swallow it.",
      PyExc_BaseException, nullptr));
  if (!error) return nullptr;
  Py_INCREF(error.get());
  if (PyModule_AddObject(module.get(), "InternalError", error.get()) < 0) {
    Py_DECREF(error.get());
    return nullptr;
  }
  internal_error = error.release();  // the module holds another reference

  Owned password(PyErr_NewExceptionWithDoc(
      "vellum._vellum.PasswordError",
      "The document is encrypted and the password given (or none) is neither its user nor its owner password. "
      "A subclass of ValueError.",
      PyExc_ValueError, nullptr));
  if (!password) return nullptr;
  Py_INCREF(password.get());
  if (PyModule_AddObject(module.get(), "PasswordError", password.get()) < 0) {
    Py_DECREF(password.get());
    return nullptr;
  }
  password_error = password.release();

  Owned warning(PyErr_NewExceptionWithDoc(
      "vellum._vellum.RecoveryWarning",
      "A damaged file was read by repairing its structure (a rebuilt cross-reference table); "
      "the message says what was wrong. Pass strict=True to get an error instead.",
      PyExc_UserWarning, nullptr));
  if (!warning) return nullptr;
  Py_INCREF(warning.get());
  if (PyModule_AddObject(module.get(), "RecoveryWarning", warning.get()) < 0) {
    Py_DECREF(warning.get());
    return nullptr;
  }
  recovery_warning = warning.release();
  initialised = true;
  return module.release();
}

}  // namespace
}  // namespace vellum::py

PyMODINIT_FUNC PyInit__vellum(void) { return vellum::py::create_module(); }
