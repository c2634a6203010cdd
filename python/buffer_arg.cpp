#include "buffer_arg.h"

namespace tav_python {

BufferArg::BufferArg(const pybind11::handle& object) {
  if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_SIMPLE) == 0) {
    data_ = view_.buf;
    size_ = static_cast<size_t>(view_.len);
    return;
  }
  // PyBUF_SIMPLE fails for strided views (memoryview(b)[::2]); take those
  // with their strides and gather the bytes in order.  Anything else keeps
  // the error Python raised (TypeError for objects without a buffer).
  if (!PyObject_CheckBuffer(object.ptr())) throw pybind11::error_already_set();
  PyErr_Clear();
  if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_FULL_RO) != 0) throw pybind11::error_already_set();
  // The constructor may still fail, and then no destructor releases the view.
  bool copied = false;
  try {
    copy_.resize(static_cast<size_t>(view_.len));
    copied = PyBuffer_ToContiguous(copy_.data(), &view_, view_.len, 'C') == 0;
  } catch (...) {
    PyBuffer_Release(&view_);
    throw;
  }
  if (!copied) {
    PyBuffer_Release(&view_);
    throw pybind11::error_already_set();
  }
  data_ = copy_.data();
  size_ = copy_.size();
}

BufferArg::~BufferArg() { PyBuffer_Release(&view_); }

}  // namespace tav_python
