// The rows of an input worked out the plainest way, for tests to compare
// against: split on newlines, cut each line at 99 characters and then at its
// first NUL, and count in an ordered map.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

inline std::map<std::string, std::int64_t> model_row_counts(std::string_view input) {
  std::map<std::string, std::int64_t> counts;
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) {
      end = input.size();
    }
    std::string row(input.substr(start, std::min<std::size_t>(end - start, 99)));
    ++counts[row.substr(0, row.find('\0'))];
    start = end + 1;
  }
  return counts;
}
