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

// One call of the system's read: the characters read, 0 at the end of
// input, -1 on failure with errno set.
long read_some(int descriptor, char* text, std::size_t size) {
  const std::size_t asked = std::min<std::size_t>(size, INT_MAX);
#ifdef _WIN32
  return _read(descriptor, text, static_cast<unsigned>(asked));
#else
  return static_cast<long>(::read(descriptor, text, asked));
#endif
}

}  // namespace

std::streamsize fd_input_buffer::xsgetn(char* text, std::streamsize size) {
  std::streamsize taken = 0;
  if (size > 0 && gptr() < egptr()) {
    *text = *gptr();
    gbump(1);
    taken = 1;
  }
  return taken +
         static_cast<std::streamsize>(read(text + taken, static_cast<std::size_t>(size - taken)));
}

fd_input_buffer::int_type fd_input_buffer::underflow() {
  if (gptr() < egptr()) {
    return traits_type::to_int_type(*gptr());
  }
  if (read(&next_, 1) == 0) {
    return traits_type::eof();
  }
  setg(&next_, &next_, &next_ + 1);
  return traits_type::to_int_type(next_);
}

std::size_t fd_input_buffer::read(char* text, std::size_t size) {
  std::size_t got = 0;
  while (got < size && !ended_) {
    const long result = read_some(descriptor_, text + got, size - got);
    if (result > 0) {
      got += static_cast<std::size_t>(result);
    } else if (result == 0) {
      ended_ = true;
    } else if (errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), "read error");
    }
  }
  return got;
}

}  // namespace rowfreq
