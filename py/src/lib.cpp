// The Python extension module `velko`: a thin binding over the engine. The engine runs
// with the interpreter lock released; engine errors become the mapped Python exceptions.
#include <pybind11/pybind11.h>

#include <cerrno>
#include <string>

#include "document.h"
#include "error.h"

namespace py = pybind11;

namespace {

PyObject* g_velko_error = nullptr;

// Raises the Python exception an engine error maps to, with the engine's message as the
// only argument (so no errno or filename attributes are set).
[[noreturn]] void raise_engine_error(const velko::Error& e) {
  PyObject* type = g_velko_error;
  switch (e.kind) {
    case velko::Error::Kind::Io:
      if (e.os_error == ENOENT) {
        type = PyExc_FileNotFoundError;
      } else if (e.os_error == EACCES || e.os_error == EPERM) {
        type = PyExc_PermissionError;
      } else {
        type = PyExc_OSError;
      }
      break;
    case velko::Error::Kind::Malformed:
      type = g_velko_error;
      break;
    case velko::Error::Kind::PageMissing:
      type = PyExc_IndexError;
      break;
  }
  PyErr_SetString(type, e.message().c_str());
  throw py::error_already_set();
}

// Accepts str or os.PathLike (whose __fspath__ may give str or bytes) and returns the
// file-system encoding of the path, as the OS expects it.
std::string path_argument(const py::handle& obj, const char* func) {
  PyObject* fs = nullptr;
  if (PyUnicode_Check(obj.ptr())) {
    fs = obj.inc_ref().ptr();
  } else if (!PyBytes_Check(obj.ptr()) && PyObject_HasAttrString(obj.ptr(), "__fspath__")) {
    fs = PyOS_FSPath(obj.ptr());
    if (!fs) throw py::error_already_set();
  } else {
    PyErr_Format(PyExc_TypeError, "%s() argument 'path' must be str or os.PathLike, not %.200s",
                 func, Py_TYPE(obj.ptr())->tp_name);
    throw py::error_already_set();
  }
  py::object holder = py::reinterpret_steal<py::object>(fs);
  if (PyBytes_Check(fs)) return std::string(PyBytes_AS_STRING(fs), PyBytes_GET_SIZE(fs));
  PyObject* encoded = PyUnicode_EncodeFSDefault(fs);
  if (!encoded) throw py::error_already_set();
  py::object enc = py::reinterpret_steal<py::object>(encoded);
  return std::string(PyBytes_AS_STRING(encoded), PyBytes_GET_SIZE(encoded));
}

py::str extract_text(const py::object& path) {
  std::string p = path_argument(path, "extract_text");
  velko::Result<std::string> result = std::string();
  {
    py::gil_scoped_release release;
    result = velko::extract_text(p);
  }
  if (!result) raise_engine_error(result.error());
  return py::str(result.value());
}

}  // namespace

PYBIND11_MODULE(velko, m) {
  py::options options;
  options.disable_function_signatures();

  m.doc() = "Arabic PDF text extraction without OCR.";

  static py::exception<void> velko_error(m, "VelkoError", PyExc_Exception);
  velko_error.attr("__doc__") = "Raised when a PDF cannot be parsed.";
  g_velko_error = velko_error.ptr();

  m.def("extract_text", &extract_text, py::arg("path"),
        "extract_text(path)\n--\n\nExtract a document's text in one call.\n\n"
        "Equivalent to `Document(path).text`, and the simplest way in.");
}
