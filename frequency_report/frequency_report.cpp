#include "frequency_report/frequency_report.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

namespace rowfreq {

namespace {

// A row of a listed group, as it is sorted for the listing.
struct listed_row {
  std::int64_t count;
  std::string_view text;

  friend bool operator<(const listed_row& left, const listed_row& right) {
    if (left.count != right.count) {
      return left.count < right.count;
    }
    return left.text < right.text;
  }
};

// A group of `rows` distinct rows read `count` times each is listed when it
// holds fewer rows read than the threshold. The product never exceeds the
// row total, so it cannot overflow.
bool is_listed(std::int64_t rows, std::int64_t count, std::int64_t threshold) {
  return rows * count < threshold;
}

// Returns the number of rows that the listed groups of `frequencies` hold.
std::size_t count_listed_rows(const frequency_table& frequencies, std::int64_t threshold) {
  std::size_t listed = 0;
  for (const auto& [count, rows] : frequencies) {
    if (is_listed(rows, count, threshold)) {
      listed += static_cast<std::size_t>(rows);
    }
  }
  return listed;
}

// Returns the rows of every listed group, sorted by count and then by text,
// so that each group's rows form one run in ascending byte order. The rows of
// groups that are not listed are never sorted.
std::vector<listed_row> gather_listed_rows(const row_table& table,
                                           const frequency_table& frequencies,
                                           std::int64_t threshold) {
  std::vector<listed_row> listed;
  listed.reserve(count_listed_rows(frequencies, threshold));
  for (const auto& [text, count] : table) {
    // A group can only be listed when its count alone is under the threshold.
    if (count < threshold && is_listed(frequencies.find(count)->second, count, threshold)) {
      listed.push_back({count, text});
    }
  }
  std::sort(listed.begin(), listed.end());
  return listed;
}

// Room for the longest line: two 19-digit numbers and the texts, or a row.
constexpr std::size_t line_capacity = 128;

char* put_text(char* at, std::string_view text) {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

char* put_number(char* at, std::int64_t number) {
  return std::to_chars(at, at + 20, number).ptr;
}

// Writes [line, end) with a single write and a single flush. Throws at once
// when the stream fails, with the system's reason when it left one in errno.
void write_line(std::ostream& output, const char* line, const char* end) {
  errno = 0;
  output.write(line, end - line);
  output.flush();
  if (!output) {
    if (errno == 0) {
      throw std::runtime_error("write error");
    }
    throw std::system_error(errno, std::generic_category(), "write error");
  }
}

void write_total_line(std::ostream& output, std::int64_t row_total) {
  char line[line_capacity];
  char* end = put_number(line, row_total);
  end = put_text(end, "rows in total:\n");
  write_line(output, line, end);
}

void write_frequency_line(std::ostream& output, std::int64_t rows, std::int64_t count,
                          bool listed) {
  char line[line_capacity];
  char* end = put_number(line, rows);
  end = put_text(end, " rows appear ");
  end = put_number(end, count);
  end = put_text(end, listed ? " times:\n" : " times\n");
  write_line(output, line, end);
}

void write_row_line(std::ostream& output, std::string_view row) {
  if (row.size() >= line_capacity) {
    // The tally never makes such a row; a table filled by other means still
    // gets the whole row, in two writes.
    write_line(output, row.data(), row.data() + row.size());
    write_line(output, "\n", "\n" + 1);
    return;
  }
  char line[line_capacity];
  char* end = put_text(line, row);
  *end++ = '\n';
  write_line(output, line, end);
}

}  // namespace

frequency_table build_frequency_table(const row_table& table) {
  frequency_table frequencies;
  for (const auto& entry : table) {
    ++frequencies[entry.second];
  }
  return frequencies;
}

void write_report(std::ostream& output, const row_table& table, std::int64_t row_total) {
  const frequency_table frequencies = build_frequency_table(table);
  const std::int64_t threshold = row_total / 2;
  const std::vector<listed_row> listed = gather_listed_rows(table, frequencies, threshold);

  write_total_line(output, row_total);
  auto next_listed = listed.begin();
  for (const auto& [count, rows] : frequencies) {
    const bool listing = is_listed(rows, count, threshold);
    write_frequency_line(output, rows, count, listing);
    if (listing) {
      for (const auto group_end = next_listed + rows; next_listed != group_end; ++next_listed) {
        write_row_line(output, next_listed->text);
      }
    }
  }
}

}  // namespace rowfreq
