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
// It serves only reads of many characters (sgetn), which is all tally_rows
// asks for: it keeps no buffer and has no get area.
class fd_input_buffer : public std::streambuf {
 public:
  // One call of the system's read: the characters read into `text`, at
  // most `size`; 0 at the end of input; -1 on failure, with errno set.
  using read_function = long (*)(int descriptor, char* text, std::size_t size);

  // Reads `descriptor` with `read`, the system's read unless a test gives
  // another.
  explicit fd_input_buffer(int descriptor, read_function read = nullptr);

 protected:
  // Reads up to `size` characters into `text`, retrying reads interrupted
  // by a signal; returns fewer only at the end of input.
  std::streamsize xsgetn(char* text, std::streamsize size) override;

 private:
  int descriptor_;
  read_function read_;
  bool ended_ = false;
};

}  // namespace rowfreq
