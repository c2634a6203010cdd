// The bytes of any Python object that exports a buffer (bytes, bytearray,
// memoryview, array.array, a numpy array, ...), held for as long as this
// record lives, so that the C library may read them with the GIL released.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>

namespace tav_python {

class BufferArg {
 public:
  // Raises TypeError (through pybind11::error_already_set) for an object
  // without the buffer protocol, such as str.  A non-contiguous view is
  // copied into contiguous memory.
  explicit BufferArg(const pybind11::handle& object);
  ~BufferArg();
  BufferArg(const BufferArg&) = delete;
  BufferArg& operator=(const BufferArg&) = delete;

  const void* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  Py_buffer view_{};
  std::string copy_;  // only for a non-contiguous exporter
  const void* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace tav_python
