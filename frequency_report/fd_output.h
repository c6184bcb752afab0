// Standard output as the report writes it.
#pragma once

#include <streambuf>

namespace rowfreq {

// An unbuffered stream buffer that writes to a file descriptor, such as
// standard output (1), with the system's write call: each sputn goes out at
// once, so a line written whole is one write to the system, and flushing
// has nothing left to do. On Windows the C runtime's text mode, when the
// descriptor is in it, writes each newline as CR LF. A failed write throws
// std::system_error ("write error") with the system's reason; a pipe whose
// reader has gone gives std::errc::broken_pipe on every platform. Through a
// std::ostream the exception surfaces when its exceptions() include badbit.
class fd_output_buffer : public std::streambuf {
 public:
  explicit fd_output_buffer(int descriptor) : descriptor_(descriptor) {}

 protected:
  std::streamsize xsputn(const char* text, std::streamsize length) override;
  int_type overflow(int_type c) override;

 private:
  int descriptor_;
};

}  // namespace rowfreq
