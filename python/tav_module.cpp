// The Python module `tav`: compress, decompress, list and per-byte costs
// over the C library.  Arguments are any buffer; the coding runs with the
// GIL released; failures raise tav.Error (a ValueError carrying the
// library's message and its code) or MemoryError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "buffer_arg.h"
#include "codec_calls.h"

namespace py = pybind11;
using tav_python::BufferArg;
using tav_python::CodecFailure;

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

py::bytes decompress(const py::object& data) {
  BufferArg compressed(data);
  size_t size = 0;
  {
    py::gil_scoped_release unlocked;
    size = tav_python::decompressed_size(compressed.data(), compressed.size());
  }
  py::bytes text = uninitialised_bytes(size);
  size_t written = 0;
  {
    py::gil_scoped_release unlocked;
    written = tav_python::decompress_into(compressed.data(), compressed.size(),
                                          PyBytes_AS_STRING(text.ptr()), size);
  }
  // The library writes the planned size on success; should it ever write
  // less, only what it wrote is returned.
  return written == size ? text : shrunk(std::move(text), written);
}

py::bytes compress(const py::object& data, int64_t level, std::optional<int64_t> order,
                   std::optional<int64_t> memory_mb, int64_t threads) {
  BufferArg text(data);
  const tav_python::CompressSettings settings{level, order, memory_mb, threads};
  // Text compresses to less than itself and random bytes to about 1.1 times
  // themselves; pages never written cost nothing, so the first guess is
  // generous.  A text the model predicts still worse is coded a second time
  // into the capacity the library asks for.
  size_t capacity = text.size() + text.size() / 2 + 4096;
  size_t written = 0, needed = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    py::bytes out = uninitialised_bytes(capacity);
    {
      py::gil_scoped_release unlocked;
      written = tav_python::compress_into(text.data(), text.size(), settings, PyBytes_AS_STRING(out.ptr()),
                                          capacity, &needed);
    }
    if (needed == 0) return shrunk(std::move(out), written);
    capacity = needed;
  }
  throw CodecFailure{TAV_ERROR_DST_TOO_SMALL};  // the library asked for less than it needs
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

py::array_t<double> costs(const py::object& data, int64_t order, int64_t memory_mb) {
  BufferArg text(data);
  py::array_t<double> bits(static_cast<py::ssize_t>(text.size()));
  double* out = bits.mutable_data();
  {
    py::gil_scoped_release unlocked;
    tav_python::costs(text.data(), text.size(), order, memory_mb, out);
  }
  return bits;
}

}  // namespace

PYBIND11_MODULE(tav, m) {
  m.doc() = "tav: the context-mixing text codec (compress, decompress, list, per-byte costs)";
  m.attr("__version__") = tav_version();

  static py::exception<CodecFailure> error(m, "Error", PyExc_ValueError);
  error_class = error.ptr();
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

  m.def("compress", &compress, py::arg("data"), py::arg("level") = TAV_DEFAULT_LEVEL,
        py::arg("order") = py::none(), py::arg("memory_mb") = py::none(), py::arg("threads") = 0,
        "Compresses a buffer; the bytes are those tav_e writes with the same settings.\n"
        "order and memory_mb replace the level's; threads 0 uses every core.");
  m.def("decompress", &decompress, py::arg("data"),
        "Decodes a whole compressed file (every member checked) and returns its text.");
  m.def("list", &list_members, py::arg("data"),
        "The members of a compressed file from its headers and trailers, decoding nothing:\n"
        "dicts of offset, compressed_bytes, text_bytes, order, memory_mb, checked, text_hash.");
  m.def("costs", &costs, py::arg("data"), py::arg("order") = 8, py::arg("memory_mb") = 1024,
        "The code length in bits of every byte under the model, as a float64 array;\n"
        "its sum is the compressed stream's size within the coder's few bytes.");
}
