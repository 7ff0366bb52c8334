// A simple device over memory for the I/O library's tests: reads hand out
// `chunk` bytes of `input` at a time (so a test chooses where the device
// cuts the data), writes append to `output` and take at most `write_chunk`
// bytes per call, and every callback is counted.  The device is the
// library's own simple-device layer; only the callbacks are the test's.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"

struct memory_device {
  std::string input;
  size_t pos = 0;
  size_t chunk = 4096;
  std::string output;
  size_t write_chunk = ~size_t{0};
  vrio_t_error_code write_result = VRIO_S_NOERR;
  int reads = 0, writes = 0, flushes = 0;
  std::vector<vrio_t_bits> read_options, write_options, close_options;
  bool free_on_close = false; // the close callback clears the user data
  bool would_block = false;   // reads answer VRIO_E_WOULD_BLOCK

  static vrio_t_error_code read(void *d, void *buf, size_t *size, vrio_t_bits options)
  {
    auto *m = static_cast<memory_device *>(d);
    m->reads++;
    m->read_options.push_back(options);
    if (m->would_block)
      return VRIO_E_WOULD_BLOCK;
    if (m->pos == m->input.size())
      return VRIO_E_END_OF_FILE;
    size_t n = std::min({*size, m->chunk, m->input.size() - m->pos});
    m->input.copy(static_cast<char *>(buf), n, m->pos);
    m->pos += n;
    *size = n;
    return VRIO_S_NOERR;
  }

  static vrio_t_error_code write(void *d, const void *buf, size_t *size, vrio_t_bits options)
  {
    auto *m = static_cast<memory_device *>(d);
    m->writes++;
    m->write_options.push_back(options);
    if (m->write_result < 0)
      return m->write_result;
    size_t n = std::min(*size, m->write_chunk);
    m->output.append(static_cast<const char *>(buf), n);
    *size = n;
    return VRIO_S_NOERR;
  }

  static vrio_t_error_code flush(void *d, vrio_t_bits)
  {
    static_cast<memory_device *>(d)->flushes++;
    return VRIO_S_NOERR;
  }

  static vrio_t_error_code close(void **pd, vrio_t_bits options)
  {
    auto *m = static_cast<memory_device *>(*pd);
    m->close_options.push_back(options);
    if (m->free_on_close)
      *pd = nullptr;
    return VRIO_S_NOERR;
  }

  // Pushes the device on `s`: `sides` 1 read, 2 write; `unit` the
  // device option (VRIO_DEVICE_BYTES or _CHARS).
  vrio_t_error_code make(VRIO *s, int sides, vrio_t_bits unit = VRIO_DEVICE_BYTES)
  {
    return vrio_create_device(s, this, this, (sides & 1) ? read : nullptr,
                              (sides & 2) ? write : nullptr, flush, nullptr, close, nullptr,
                              nullptr, unit);
  }
};

// The library started, a memory device and a stream over it, closed
// abortively when a case leaves it open.
struct VrioMemoryStream : VrioLibrary {
  memory_device m;
  VRIO s = nullptr;
  void TearDown() override
  {
    if (s != nullptr)
      vrio_close(&s, VRIO_CLOSE_ABORTIVE);
    VrioLibrary::TearDown();
  }
};
