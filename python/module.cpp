// The extension tav._tav: compress, decompress, list, per-byte costs, the
// compress bound and a compression stream over the C library.  The package
// tav (tav/__init__.py) builds the lzma-like interface on top of it.
// Arguments are any buffer; the coding runs with the GIL released, and in
// the main thread Ctrl-C stops it (interrupt.h); failures raise tav.Error (a
// ValueError carrying the library's message and its code) or MemoryError.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "buffer_arg.h"
#include "codec_calls.h"
#include "interrupt.h"

namespace py = pybind11;
using tav_python::BufferArg;
using tav_python::CodecFailure;
using tav_python::run_interruptible;
using tav_python::StopFlag;

namespace {

// The exception class, created once when the module is imported.
PyObject* error_class = nullptr;

void raise_failure(const CodecFailure& failure) {
  const char* message = tav_error_message(failure.code);
  if (failure.code == TAV_ERROR_MEMORY) {
    PyErr_SetString(PyExc_MemoryError, message);
    return;
  }
  py::object error = py::reinterpret_borrow<py::object>(error_class)(message);
  error.attr("code") = static_cast<int>(failure.code);
  PyErr_SetObject(error_class, error.ptr());
}

// A bytes object of `size` bytes left uninitialised, for the library to
// fill: a damaged header may claim a large text, and memory never written is
// never touched.
py::bytes uninitialised_bytes(size_t size) {
  if (size > static_cast<size_t>(PY_SSIZE_T_MAX)) throw CodecFailure{TAV_ERROR_TOO_LARGE};
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (bytes == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(bytes);
}

// Gives up the bytes past `size` (the object is new and only ours).
py::bytes shrunk(py::bytes bytes, size_t size) {
  PyObject* object = bytes.release().ptr();
  if (_PyBytes_Resize(&object, static_cast<Py_ssize_t>(size)) != 0) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(object);
}

py::bytes decompress(const py::object& data, bool plain) {
  BufferArg compressed(data);
  size_t size = 0;
  {
    // The plan of the file only: nothing is decoded yet.
    py::gil_scoped_release unlocked;
    size = tav_python::decompressed_size(compressed.data(), compressed.size(), plain);
  }
  py::bytes text = uninitialised_bytes(size);
  if (size == 0) return text;  // an empty text, already checked
  size_t written = 0;
  StopFlag stop;
  char* out = PyBytes_AS_STRING(text.ptr());
  run_interruptible(
      [&] { written = tav_python::decompress_into(compressed.data(), compressed.size(), out, size, plain, stop); },
      stop);
  // The library writes the planned size on success; should it ever write
  // less, only what it wrote is returned.
  return written == size ? text : shrunk(std::move(text), written);
}

tav_python::CompressSettings settings_of(int64_t level, std::optional<int64_t> order, std::optional<int64_t> memory_mb,
                                         int64_t threads, std::optional<int64_t> block_size, int64_t long_window) {
  return {level, order, memory_mb, threads, block_size, long_window};
}

py::bytes compress(const py::object& data, int64_t level, std::optional<int64_t> order,
                   std::optional<int64_t> memory_mb, int64_t threads, std::optional<int64_t> block_size,
                   int64_t long_window) {
  BufferArg text(data);
  const auto settings = settings_of(level, order, memory_mb, threads, block_size, long_window);
  // Sized once by the bound; pages the library never writes cost nothing.
  const size_t capacity = tav_python::compress_bound(text.size(), block_size);
  py::bytes out = uninitialised_bytes(capacity);
  size_t written = 0;
  StopFlag stop;
  char* dst = PyBytes_AS_STRING(out.ptr());
  run_interruptible(
      [&] { written = tav_python::compress_into(text.data(), text.size(), settings, dst, capacity, stop); }, stop);
  return shrunk(std::move(out), written);
}

size_t compress_bound(const py::int_& size, std::optional<int64_t> block_size) {
  const int negative = PyObject_RichCompareBool(size.ptr(), py::int_(0).ptr(), Py_LT);
  if (negative < 0) throw py::error_already_set();
  if (negative) throw CodecFailure{TAV_ERROR_PARAMETER};
  const unsigned long long n = PyLong_AsUnsignedLongLong(size.ptr());
  if (PyErr_Occurred()) {
    PyErr_Clear();  // more than any size_t
    throw CodecFailure{TAV_ERROR_TOO_LARGE};
  }
  if (n > SIZE_MAX) throw CodecFailure{TAV_ERROR_TOO_LARGE};
  return tav_python::compress_bound(static_cast<size_t>(n), block_size);
}

py::list list_members(const py::object& data) {
  BufferArg compressed(data);
  std::vector<tav_member_info> members;
  {
    py::gil_scoped_release unlocked;
    members = tav_python::list_members(compressed.data(), compressed.size());
  }
  py::list rows;
  for (const tav_member_info& m : members) {
    py::dict row;
    row["offset"] = m.offset;
    row["compressed_bytes"] = m.compressed_bytes;
    row["text_bytes"] = m.text_bytes;
    row["order"] = m.order;
    row["memory_mb"] = m.memory_mb;
    row["checked"] = m.checked != 0;
    row["text_hash"] = m.checked ? py::object(py::int_(m.text_hash)) : py::object(py::none());
    rows.append(row);
  }
  return rows;
}

// A writable buffer of float64 values, such as array('d') or a numpy array.
class DoublesOut {
 public:
  explicit DoublesOut(const py::handle& object) {
    if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) != 0)
      throw py::error_already_set();
    const std::string format = view_.format != nullptr ? view_.format : "B";
    if (view_.itemsize != sizeof(double) || (format != "d" && format != "<d" && format != "=d")) {
      PyBuffer_Release(&view_);
      throw py::type_error("the output of costs must be a contiguous buffer of float64");
    }
  }
  ~DoublesOut() { PyBuffer_Release(&view_); }
  DoublesOut(const DoublesOut&) = delete;
  DoublesOut& operator=(const DoublesOut&) = delete;
  double* data() const { return static_cast<double*>(view_.buf); }
  size_t size() const { return static_cast<size_t>(view_.len) / sizeof(double); }

 private:
  Py_buffer view_{};
};

void costs_into(const py::object& data, int64_t order, int64_t memory_mb, const py::object& bits) {
  BufferArg text(data);
  DoublesOut out(bits);
  if (out.size() != text.size()) throw py::value_error("the output of costs must hold one value per byte");
  py::gil_scoped_release unlocked;
  tav_python::costs(text.data(), text.size(), order, memory_mb, out.data());
}

// The compression stream as Python sees it: push() takes a buffer and
// returns the bytes written meanwhile.  A push that fills no block only
// copies its bytes, so only one that may code runs where Ctrl-C stops it.
class Compressor {
 public:
  Compressor(int64_t level, std::optional<int64_t> order, std::optional<int64_t> memory_mb, int64_t threads,
             std::optional<int64_t> block_size, int64_t long_window)
      : stream_(settings_of(level, order, memory_mb, threads, block_size, long_window)) {}

  py::bytes push(const py::object& data, bool end) {
    BufferArg text(data);
    std::string out;
    const auto work = [&] { stream_.push(text.data(), text.size(), end, out); };
    try {
      if (stream_.may_code(text.size(), end)) {
        run_interruptible(work, stream_.stop());
      } else {
        py::gil_scoped_release unlocked;
        work();
      }
    } catch (...) {
      stream_.abandon();
      throw;
    }
    return py::bytes(out);
  }

  bool failed() const { return stream_.failed(); }

 private:
  tav_python::CompressionStream stream_;
};

}  // namespace

PYBIND11_MODULE(_tav, m) {
  m.doc() = "The compiled core of the tav package; import tav instead.";
  m.attr("__version__") = tav_version();

  static py::exception<CodecFailure> error(m, "Error", PyExc_ValueError);
  error_class = error.ptr();
  error.attr("__module__") = "tav";
  error.doc() = "A failure the codec reports: damaged or unsupported data, a bad parameter, "
                "a text no order can code.  `code` is the library's error number.";
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const CodecFailure& failure) {
      raise_failure(failure);
    }
  });
  m.attr("ERROR_PARAMETER") = static_cast<int>(TAV_ERROR_PARAMETER);
  m.attr("ERROR_DAMAGED") = static_cast<int>(TAV_ERROR_DAMAGED);
  m.attr("ERROR_UNSUPPORTED") = static_cast<int>(TAV_ERROR_UNSUPPORTED);
  m.attr("ERROR_CANNOT_CODE") = static_cast<int>(TAV_ERROR_CANNOT_CODE);
  m.attr("ERROR_TOO_LARGE") = static_cast<int>(TAV_ERROR_TOO_LARGE);
  m.attr("DEFAULT_LEVEL") = TAV_DEFAULT_LEVEL;
  m.attr("DEFAULT_LONG_WINDOW") = static_cast<uint64_t>(TAV_DEFAULT_LONG_WINDOW);
  tav_python::note_main_thread();

  m.def("error_message", [](int code) { return std::string(tav_error_message(static_cast<tav_error>(code))); },
        py::arg("code"));
  m.def("compress", &compress, py::arg("data"), py::arg("level"), py::arg("order"), py::arg("memory_mb"),
        py::arg("threads"), py::arg("block_size"), py::arg("long_window"));
  m.def("compress_bound", &compress_bound, py::arg("size"), py::arg("block_size") = py::none());
  m.def("decompress", &decompress, py::arg("data"), py::arg("plain"));
  m.def("list", &list_members, py::arg("data"));
  m.def("costs_into", &costs_into, py::arg("data"), py::arg("order"), py::arg("memory_mb"), py::arg("bits"));
  py::class_<Compressor>(m, "Compressor")
      .def(py::init<int64_t, std::optional<int64_t>, std::optional<int64_t>, int64_t, std::optional<int64_t>,
                    int64_t>(),
           py::arg("level"), py::arg("order"), py::arg("memory_mb"), py::arg("threads"), py::arg("block_size"),
           py::arg("long_window"))
      .def("push", &Compressor::push, py::arg("data"), py::arg("end"))
      .def_property_readonly("failed", &Compressor::failed);
}
