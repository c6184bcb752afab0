#include "frequency_report/fd_output.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace rowfreq {

namespace {

long system_write(int descriptor, const char* text, std::size_t size) {
  const std::size_t offered = std::min<std::size_t>(size, INT_MAX);
#ifdef _WIN32
  return _write(descriptor, text, static_cast<unsigned>(offered));
#else
  return static_cast<long>(::write(descriptor, text, offered));
#endif
}

// The failure of the last write, from errno as the system call left it.
[[noreturn]] void throw_write_error() {
  const int error = errno;
#ifdef _WIN32
  // Windows has no SIGPIPE: writing to a pipe whose reader has gone fails
  // with the system's ERROR_NO_DATA (232), or ERROR_PIPE_NOT_CONNECTED (233)
  // under Wine, both of which the C runtime turns into EINVAL; and with
  // ERROR_BROKEN_PIPE, which it turns into EPIPE.
  const unsigned long windows_error = _doserrno;
  if (error == EINVAL && (windows_error == 232 || windows_error == 233)) {
    throw std::system_error(std::make_error_code(std::errc::broken_pipe), "write error");
  }
#endif
  throw std::system_error(error, std::generic_category(), "write error");
}

}  // namespace

fd_output_buffer::fd_output_buffer(int descriptor, write_function write)
    : descriptor_(descriptor), write_(write != nullptr ? write : system_write) {}

std::streamsize fd_output_buffer::xsputn(const char* text, std::streamsize length) {
  auto left = static_cast<std::size_t>(length);
  while (left > 0) {
    const long written = write_(descriptor_, text, left);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written < 0) {
      throw_write_error();
    }
    // Nothing written and no error: trying again would loop for ever.
    if (written == 0) {
      throw std::system_error(EIO, std::generic_category(), "write error");
    }
    text += written;
    left -= static_cast<std::size_t>(written);
  }
  return length;
}

}  // namespace rowfreq
