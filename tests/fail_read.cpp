// Preloaded into rowfreq by the end-to-end tests: makes reading standard
// input fail with EIO once FAIL_READ_AFTER bytes have been read, the way a
// failing disk or a lost network file system would, midway through the input.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using read_function = ssize_t (*)(int, void*, size_t);

size_t bytes_served = 0;

}  // namespace

extern "C" ssize_t read(int descriptor, void* buffer, size_t count) {
  static const auto real_read = reinterpret_cast<read_function>(dlsym(RTLD_NEXT, "read"));
  static const char* const limit_text = std::getenv("FAIL_READ_AFTER");
  if (descriptor != STDIN_FILENO || limit_text == nullptr) {
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
