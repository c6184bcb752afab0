// Standard input as the tally reads it.
#pragma once

#include <cstddef>
#include <streambuf>

namespace rowfreq {

// A stream buffer that reads a file descriptor, such as standard input (0),
// with the system's read call. A failed read is told apart from the end of
// input by read's own result and errno, on every platform, where C++ file
// buffers differ: some report a failed read as the end of input. The first
// read that meets the end of input is the last one, so one end-of-input key
// ends the input at a terminal, which would otherwise go on giving lines
// after it. On Windows the C runtime's text mode, when the descriptor is in
// it, reads a CR LF as one newline and ends the input at a Ctrl-Z. A failed
// read throws std::system_error ("read error") with the system's reason.
class fd_input_buffer : public std::streambuf {
 public:
  explicit fd_input_buffer(int descriptor) : descriptor_(descriptor) {}

 protected:
  std::streamsize xsgetn(char* text, std::streamsize size) override;
  int_type underflow() override;

 private:
  // Reads up to `size` characters into `text`; returns fewer only at the
  // end of input.
  std::size_t read(char* text, std::size_t size);

  int descriptor_;
  bool ended_ = false;
  char next_ = 0;  // the get area of underflow, one character
};

}  // namespace rowfreq
