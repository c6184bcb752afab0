// Preloaded into rowfreq by the end-to-end tests: makes reading standard
// input fail with EIO once FAIL_READ_AFTER bytes have been read, the way a
// failing disk or a lost network file system would, midway through the input.
// Standard input is recognised by the file it reads, not by its descriptor,
// so that the same library works under Wine, which reads the file through a
// descriptor of its own.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using read_function = ssize_t (*)(int, void*, size_t);

size_t bytes_served = 0;

// The file open as standard input when the program started.
struct stat input_file;
const bool input_file_known = fstat(STDIN_FILENO, &input_file) == 0;

// Whether `descriptor` reads the file that standard input reads.
bool reads_input_file(int descriptor) {
  struct stat file;
  return input_file_known && fstat(descriptor, &file) == 0 && file.st_dev == input_file.st_dev &&
         file.st_ino == input_file.st_ino;
}

}  // namespace

extern "C" ssize_t read(int descriptor, void* buffer, size_t count) {
  static const auto real_read = reinterpret_cast<read_function>(dlsym(RTLD_NEXT, "read"));
  static const char* const limit_text = std::getenv("FAIL_READ_AFTER");
  if (limit_text == nullptr || !reads_input_file(descriptor)) {
    return real_read(descriptor, buffer, count);
  }
  const size_t limit = std::strtoull(limit_text, nullptr, 10);
  if (bytes_served >= limit) {
    errno = EIO;
    return -1;
  }
  const ssize_t got =
      real_read(descriptor, buffer, count < limit - bytes_served ? count : limit - bytes_served);
  if (got > 0) {
    bytes_served += static_cast<size_t>(got);
  }
  return got;
}
