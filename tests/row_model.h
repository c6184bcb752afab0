// The rows of an input and its report worked out the plainest way, for
// tests to compare against: split on newlines, cut each line at 99
// characters and then at its first NUL, count in an ordered map, and list a
// group by walking the whole map.
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

inline std::string model_report(const std::map<std::string, std::int64_t>& counts) {
  std::int64_t total = 0;
  std::map<std::int64_t, std::int64_t> groups;
  for (const auto& [row, count] : counts) {
    total += count;
    ++groups[count];
  }
  std::string report = std::to_string(total) + "rows in total:\n";
  for (const auto& [count, distinct_rows] : groups) {
    const bool listed = distinct_rows * count < total / 2;
    report += std::to_string(distinct_rows) + " rows appear " + std::to_string(count) + " times" +
              (listed ? ":\n" : "\n");
    for (const auto& [row, row_count] : counts) {
      if (listed && row_count == count) {
        report += row + "\n";
      }
    }
  }
  return report;
}

inline std::string model_report(std::string_view input) {
  return model_report(model_row_counts(input));
}
