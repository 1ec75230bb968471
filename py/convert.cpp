// ExtractedDoc to nested dict/list/str/int/float/bool/None.
//
// The tree is built straight from the document's records, in their
// declaration order, which is also the key order of the JSON rendering; so
// json.loads of the JSON text equals the dict. The key strings are created
// once per call (interned) rather than once per record.
//
// Every constructor of the interpreter may fail (memory); each failure is
// propagated as nullptr with the interpreter's exception set, and the
// partially built objects are released by their Owned handles.
#include "convert.h"

#include <cmath>

#include "model/extracted_doc.h"

namespace vellum::py {
namespace {

#define VELLUM_KEYS(X)                                                                                    \
  X(version) X(pages) X(width) X(height) X(lines) X(needs_ocr) X(tables) X(images) X(text) X(x) X(y)     \
  X(rows) X(cols) X(cells) X(name) X(format) X(bits_per_component) X(color_space)

struct Keys {
#define VELLUM_KEY_FIELD(k) Owned k;
  VELLUM_KEYS(VELLUM_KEY_FIELD)
#undef VELLUM_KEY_FIELD

  bool init() {
#define VELLUM_KEY_INIT(k) \
  k = Owned(PyUnicode_InternFromString(#k)); \
  if (!k) return false;
    VELLUM_KEYS(VELLUM_KEY_INIT)
#undef VELLUM_KEY_INIT
    return true;
  }
};

// Stores `value` (a new reference, or nullptr after a failure) under `key`.
bool put(PyObject* dict, const Owned& key, PyObject* value) {
  Owned owned(value);
  if (!owned) return false;
  return PyDict_SetItem(dict, key.get(), owned.get()) == 0;
}

PyObject* float_or_none(double v) {
  if (std::isfinite(v)) return PyFloat_FromDouble(v);
  Py_INCREF(Py_None);
  return Py_None;
}

PyObject* boolean(bool v) {
  PyObject* b = v ? Py_True : Py_False;
  Py_INCREF(b);
  return b;
}

PyObject* count(uint64_t v) { return PyLong_FromUnsignedLongLong(v); }

// A list of `n` items, item i made by make(i) (a new reference or nullptr).
template <class Make>
PyObject* list_of(size_t n, Make make) {
  Owned list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) return nullptr;
  for (size_t i = 0; i < n; ++i) {
    PyObject* item = make(i);
    if (!item) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

PyObject* line_dict(const Keys& k, const Line& line) {
  Owned d(PyDict_New());
  if (!d || !put(d.get(), k.text, str_from_utf8(line.text)) || !put(d.get(), k.x, float_or_none(line.x)) ||
      !put(d.get(), k.y, float_or_none(line.y)))
    return nullptr;
  return d.release();
}

PyObject* table_dict(const Keys& k, const Table& table) {
  Owned d(PyDict_New());
  if (!d || !put(d.get(), k.rows, count(table.rows)) || !put(d.get(), k.cols, count(table.cols)))
    return nullptr;
  PyObject* cells = list_of(table.cells.size(), [&](size_t r) {
    const std::vector<std::string>& row = table.cells[r];
    return list_of(row.size(), [&](size_t c) { return str_from_utf8(row[c]); });
  });
  if (!put(d.get(), k.cells, cells)) return nullptr;
  return d.release();
}

PyObject* image_dict(const Keys& k, const ParsedImage& image) {
  Owned d(PyDict_New());
  if (!d || !put(d.get(), k.name, str_from_utf8(image.name)) ||
      !put(d.get(), k.format, PyUnicode_FromString(format_name(image.format))) ||
      !put(d.get(), k.width, count(image.width)) || !put(d.get(), k.height, count(image.height)) ||
      !put(d.get(), k.bits_per_component, count(image.bits_per_component)) ||
      !put(d.get(), k.color_space, str_from_utf8(image.color_space)))
    return nullptr;
  return d.release();
}

PyObject* page_dict(const Keys& k, const PageText& page) {
  Owned d(PyDict_New());
  if (!d || !put(d.get(), k.width, float_or_none(page.width)) ||
      !put(d.get(), k.height, float_or_none(page.height)) ||
      !put(d.get(), k.lines, list_of(page.lines.size(), [&](size_t i) { return line_dict(k, page.lines[i]); })) ||
      !put(d.get(), k.needs_ocr, boolean(page.needs_ocr)) ||
      !put(d.get(), k.tables, list_of(page.tables.size(), [&](size_t i) { return table_dict(k, page.tables[i]); })) ||
      !put(d.get(), k.images, list_of(page.images.size(), [&](size_t i) { return image_dict(k, page.images[i]); })))
    return nullptr;
  return d.release();
}

}  // namespace

PyObject* str_from_utf8(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* info_to_python(const DocumentInfo& info) {
  auto text_or_none = [](const std::optional<std::string>& text) -> PyObject* {
    if (text) return str_from_utf8(*text);
    Py_INCREF(Py_None);
    return Py_None;
  };
  Owned d(PyDict_New());
  if (!d) return nullptr;
  auto set = [&](const char* key, PyObject* value) {
    Owned owned(value);
    return owned && PyDict_SetItemString(d.get(), key, owned.get()) == 0;
  };
  Owned outline(list_of(info.outline.size(), [&](size_t i) -> PyObject* {
    const OutlineItem& item = info.outline[i];
    Owned entry(PyDict_New());
    if (!entry) return nullptr;
    Owned title(str_from_utf8(item.title)), level(PyLong_FromLong(item.level));
    Owned page(item.page ? PyLong_FromSize_t(*item.page) : (Py_INCREF(Py_None), Py_None));
    if (!title || !level || !page || PyDict_SetItemString(entry.get(), "title", title.get()) < 0 ||
        PyDict_SetItemString(entry.get(), "level", level.get()) < 0 ||
        PyDict_SetItemString(entry.get(), "page", page.get()) < 0)
      return nullptr;
    return entry.release();
  }));
  if (!outline) return nullptr;
  if (!set("pages", PyLong_FromSize_t(info.page_count)) || !set("version", str_from_utf8(info.version)) ||
      !set("encrypted", boolean(info.encrypted)) || !set("encryption", text_or_none(info.encryption)) ||
      !set("title", text_or_none(info.title)) || !set("author", text_or_none(info.author)) ||
      !set("subject", text_or_none(info.subject)) || !set("keywords", text_or_none(info.keywords)) ||
      !set("creator", text_or_none(info.creator)) || !set("producer", text_or_none(info.producer)) ||
      !set("creation_date", text_or_none(info.creation_date)) ||
      !set("modification_date", text_or_none(info.modification_date)) || !set("outline", outline.release()))
    return nullptr;
  return d.release();
}

PyObject* to_python(const ExtractedDoc& doc) {
  Keys keys;
  if (!keys.init()) return nullptr;
  Owned d(PyDict_New());
  if (!d || !put(d.get(), keys.version, str_from_utf8(doc.version)) ||
      !put(d.get(), keys.pages, list_of(doc.pages.size(), [&](size_t i) { return page_dict(keys, doc.pages[i]); })))
    return nullptr;
  return d.release();
}

}  // namespace vellum::py
