// The write floor: the least any program can spend writing a report when it
// writes and flushes every line. Reads the report file whole, then writes it
// to standard output one line at a time, one write(2) per line, checking
// each result. bench/run times it after `cat` of the input, so that rowfreq's
// own cost can be set against reading plus writing alone.
//
// With --stream it writes the same lines through std::ostream::write and
// flush, over a stream buffer that hands each flushed line to fwrite and
// fflush on stdout: the difference between the two modes is what the C++
// stream and C stdio add per flushed line.
// Usage: write_floor [--stream] REPORT
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace {

// Returns the whole content of the file at `path`; sets `ok` to false when
// it cannot be opened or read.
std::string read_whole(const char* path, bool& ok) {
  std::string content;
  const int fd = ::open(path, O_RDONLY);
  ok = fd >= 0;
  char block[1 << 16];
  while (ok) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    ok = got >= 0;
    if (got <= 0) {
      break;
    }
    content.append(block, static_cast<std::size_t>(got));
  }
  if (fd >= 0) {
    ::close(fd);
  }
  return content;
}

// Writes all of `line` to standard output, in one write(2) unless the system
// takes less; returns false when a write fails.
bool write_line(std::string_view line) {
  while (!line.empty()) {
    const ssize_t put = ::write(STDOUT_FILENO, line.data(), line.size());
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return false;
    }
    line.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// Calls `write` with each line of `text`, newline included (and a last line
// without one); returns false as soon as one call does.
template <typename LineWriter>
bool for_each_line(std::string_view text, LineWriter write) {
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::size_t length = newline == std::string_view::npos ? text.size() : newline + 1;
    if (!write(text.substr(0, length))) {
      return false;
    }
    text.remove_prefix(length);
  }
  return true;
}

// A stream buffer over C stdio: what is written collects in the stream's
// own buffer and goes to fwrite on overflow and on each flush, which then
// calls fflush.
class stdio_buffer : public std::streambuf {
 public:
  explicit stdio_buffer(std::FILE* file) : file_(file) { setp(buffer_, buffer_ + sizeof buffer_); }

 protected:
  int_type overflow(int_type character) override {
    if (!drain()) {
      return traits_type::eof();
    }
    if (!traits_type::eq_int_type(character, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(character);
      pbump(1);
    }
    return traits_type::not_eof(character);
  }
  int sync() override { return drain() && std::fflush(file_) == 0 ? 0 : -1; }

 private:
  bool drain() {
    const auto pending = static_cast<std::size_t>(pptr() - pbase());
    const bool ok = std::fwrite(pbase(), 1, pending, file_) == pending;
    setp(buffer_, buffer_ + sizeof buffer_);
    return ok;
  }

  std::FILE* file_;
  char buffer_[1 << 16];
};

bool write_through_stream(std::string_view report) {
  stdio_buffer buffer(stdout);
  std::ostream output(&buffer);
  return for_each_line(report, [&output](std::string_view line) {
    output.write(line.data(), static_cast<std::streamsize>(line.size()));
    output.flush();
    return static_cast<bool>(output);
  });
}

}  // namespace

int main(int argc, char** argv) {
  const bool through_stream = argc == 3 && std::strcmp(argv[1], "--stream") == 0;
  if (argc != 2 && !through_stream) {
    std::fputs("usage: write_floor [--stream] REPORT\n", stderr);
    return 2;
  }
  bool ok = false;
  const std::string report = read_whole(argv[argc - 1], ok);
  if (!ok) {
    std::fprintf(stderr, "write_floor: cannot read %s: %s\n", argv[argc - 1], std::strerror(errno));
    return 1;
  }
  ok = through_stream ? write_through_stream(report) : for_each_line(report, write_line);
  if (!ok) {
    std::fprintf(stderr, "write_floor: write error: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
