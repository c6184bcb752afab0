#include "row_tally/fd_input.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace rowfreq {

namespace {

long system_read(int descriptor, char* text, std::size_t size) {
  const std::size_t asked = std::min<std::size_t>(size, INT_MAX);
#ifdef _WIN32
  return _read(descriptor, text, static_cast<unsigned>(asked));
#else
  return static_cast<long>(::read(descriptor, text, asked));
#endif
}

}  // namespace

fd_input_buffer::fd_input_buffer(int descriptor, read_function read)
    : descriptor_(descriptor), read_(read != nullptr ? read : system_read) {}

std::streamsize fd_input_buffer::xsgetn(char* text, std::streamsize size) {
  std::streamsize got = 0;
  while (got < size && !ended_) {
    const long result = read_(descriptor_, text + got, static_cast<std::size_t>(size - got));
    if (result > 0) {
      got += result;
    } else if (result == 0) {
      ended_ = true;
    } else if (errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "read error");
    }
  }
  return got;
}

}  // namespace rowfreq
