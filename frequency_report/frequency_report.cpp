#include "frequency_report/frequency_report.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace rowfreq {

namespace {

// A group of `rows` distinct rows read `count` times each is listed when it
// holds fewer rows read than the threshold. The product never exceeds the
// row total, so it cannot overflow.
bool is_listed(std::int64_t rows, std::int64_t count, std::int64_t threshold) {
  return rows * count < threshold;
}

// Where the rows of the listed groups go in the listing: the place of each
// group's first row, by count, and the number of rows listed in all.
struct listing_layout {
  std::map<std::int64_t, std::size_t> group_starts;
  std::size_t rows = 0;
};

listing_layout lay_out_listing(const frequency_table& frequencies, std::int64_t threshold) {
  listing_layout layout;
  for (const auto& [count, rows] : frequencies) {
    if (is_listed(rows, count, threshold)) {
      layout.group_starts.emplace_hint(layout.group_starts.end(), count, layout.rows);
      layout.rows += static_cast<std::size_t>(rows);
    }
  }
  return layout;
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
  listing_layout layout = lay_out_listing(frequencies, threshold);
  std::vector<stored_row> listed(layout.rows, stored_row(nullptr));
  // Each group's next free place, starting at its first.
  std::map<std::int64_t, std::size_t> next_place = std::move(layout.group_starts);
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

// Writes `line` with a single write and a single flush. A stream that fails
// without throwing gives a "write error" without a reason.
void write_line(std::ostream& output, std::string_view line) {
  output.write(line.data(), static_cast<std::streamsize>(line.size()));
  output.flush();
  if (!output) {
    throw std::runtime_error("write error");
  }
}

// A line of the report, formatted in place so that it can be written whole.
class report_line {
 public:
  // Room for the longest line: two 19-digit numbers and the texts, or a row.
  static constexpr std::size_t capacity = 128;

  report_line& put(std::string_view text) {
    std::memcpy(text_ + length_, text.data(), text.size());
    length_ += text.size();
    return *this;
  }
  report_line& put(std::int64_t number) {
    length_ = static_cast<std::size_t>(
        std::to_chars(text_ + length_, text_ + capacity, number).ptr - text_);
    return *this;
  }
  std::string_view text() const { return {text_, length_}; }

 private:
  char text_[capacity];
  std::size_t length_ = 0;
};

void write_total_line(std::ostream& output, std::int64_t row_total) {
  write_line(output, report_line().put(row_total).put("rows in total:\n").text());
}

void write_frequency_line(std::ostream& output, std::int64_t rows, std::int64_t count,
                          bool listed) {
  write_line(output, report_line()
                         .put(rows)
                         .put(" rows appear ")
                         .put(count)
                         .put(listed ? " times:\n" : " times\n")
                         .text());
}

void write_row_line(std::ostream& output, std::string_view row) {
  if (row.size() >= report_line::capacity) {
    // The tally never makes such a row; a table filled by other means still
    // gets the whole row, in two writes.
    write_line(output, row);
    write_line(output, "\n");
    return;
  }
  write_line(output, report_line().put(row).put("\n").text());
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
