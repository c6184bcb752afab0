// Standard output as the report writes it.
#pragma once

#include <cstddef>
#include <streambuf>

namespace rowfreq {

// An unbuffered stream buffer that writes to a file descriptor, such as
// standard output (1), with the system's write call: each sputn goes out at
// once, so a line written whole is one write to the system, and flushing
// has nothing left to do. On Windows the C runtime's text mode, when the
// descriptor is in it, writes each newline as CR LF. A failed write throws
// std::system_error ("write error") with the system's reason, and a write
// that writes nothing is a failure too (EIO); a pipe whose reader has gone
// gives std::errc::broken_pipe on every platform. The exception reaches
// whoever calls sputn directly, as the report does. It serves only writes
// of many characters (sputn, which std::ostream::write calls): it keeps no
// buffer and has no put area.
class fd_output_buffer : public std::streambuf {
 public:
  // One call of the system's write: the characters of `text` written, at
  // most `size`; -1 on failure, with errno set.
  using write_function = long (*)(int descriptor, const char* text, std::size_t size);

  // Writes to `descriptor` with `write`, the system's write unless a test
  // gives another.
  explicit fd_output_buffer(int descriptor, write_function write = nullptr);

 protected:
  // Writes all `length` characters of `text`, retrying writes interrupted
  // by a signal and continuing after partial ones.
  std::streamsize xsputn(const char* text, std::streamsize length) override;

 private:
  int descriptor_;
  write_function write_;
};

}  // namespace rowfreq
