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

// A group of `rows` distinct rows read `count` times each is listed when it
// holds fewer rows read than the threshold. The product never exceeds the
// row total, so it cannot overflow.
bool is_listed(std::int64_t rows, std::int64_t count, std::int64_t threshold) {
  return rows * count < threshold;
}

// Returns, for each listed group of `frequencies`, where its rows begin in
// the listing, and sets `listed_rows` to the number of rows listed in all.
std::map<std::int64_t, std::size_t> find_group_starts(const frequency_table& frequencies,
                                                      std::int64_t threshold,
                                                      std::size_t& listed_rows) {
  std::map<std::int64_t, std::size_t> starts;
  listed_rows = 0;
  for (const auto& [count, rows] : frequencies) {
    if (is_listed(rows, count, threshold)) {
      starts.emplace_hint(starts.end(), count, listed_rows);
      listed_rows += static_cast<std::size_t>(rows);
    }
  }
  return starts;
}

bool by_text(stored_row left, stored_row right) {
  return left.text() < right.text();
}

// Returns the rows of every listed group: the groups in ascending order of
// count, the rows of each in ascending byte order. Each row goes straight to
// its group's place, so the listing needs one pointer per row, and only the
// rows of a group are sorted together. Rows of groups that are not listed
// are never sorted.
std::vector<stored_row> gather_listed_rows(const row_table& table,
                                           const frequency_table& frequencies,
                                           std::int64_t threshold) {
  std::size_t listed_rows = 0;
  std::map<std::int64_t, std::size_t> next_place =
      find_group_starts(frequencies, threshold, listed_rows);
  std::vector<stored_row> listed(listed_rows, stored_row(nullptr));
  if (listed.empty()) {
    return listed;
  }
  for (const auto& [row, count] : table) {
    // A group can only be listed when its count alone is under the threshold.
    if (count < threshold) {
      if (auto place = next_place.find(count); place != next_place.end()) {
        listed[place->second++] = row;
      }
    }
  }
  auto group_begin = listed.begin();
  for (const auto& [count, rows] : frequencies) {
    if (is_listed(rows, count, threshold)) {
      std::sort(group_begin, group_begin + rows, by_text);
      group_begin += rows;
    }
  }
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

// Writes `line` with a single write and a single flush. Throws at once when
// the stream fails, with the system's reason when it left one in errno.
void write_line(std::ostream& output, std::string_view line) {
  errno = 0;
  output.write(line.data(), static_cast<std::streamsize>(line.size()));
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
  write_line(output, {line, static_cast<std::size_t>(end - line)});
}

void write_frequency_line(std::ostream& output, std::int64_t rows, std::int64_t count,
                          bool listed) {
  char line[line_capacity];
  char* end = put_number(line, rows);
  end = put_text(end, " rows appear ");
  end = put_number(end, count);
  end = put_text(end, listed ? " times:\n" : " times\n");
  write_line(output, {line, static_cast<std::size_t>(end - line)});
}

void write_row_line(std::ostream& output, std::string_view row) {
  if (row.size() >= line_capacity) {
    // The tally never makes such a row; a table filled by other means still
    // gets the whole row, in two writes.
    write_line(output, row);
    write_line(output, "\n");
    return;
  }
  char line[line_capacity];
  char* end = put_text(line, row);
  *end++ = '\n';
  write_line(output, {line, static_cast<std::size_t>(end - line)});
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
  const std::vector<stored_row> listed = gather_listed_rows(table, frequencies, threshold);

  write_total_line(output, row_total);
  auto next_listed = listed.begin();
  for (const auto& [count, rows] : frequencies) {
    const bool listing = is_listed(rows, count, threshold);
    write_frequency_line(output, rows, count, listing);
    if (listing) {
      for (const auto group_end = next_listed + rows; next_listed != group_end; ++next_listed) {
        write_row_line(output, next_listed->text());
      }
    }
  }
}

}  // namespace rowfreq
