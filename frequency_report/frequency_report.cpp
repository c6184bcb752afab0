#include "frequency_report/frequency_report.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <streambuf>
#include <string_view>
#include <vector>

#include "frequency_report/listing_sort.h"
#include "row_tally/huge_pages.h"
#include "row_tally/words.h"

namespace rowfreq {

namespace {

// A map from an occurrence count to a T. Most distinct rows have small
// counts, so counts below small_limit index a vector, which costs no tree
// lookup per row; the rest go to an ordered map.
template <class T>
class by_count {
 public:
  static constexpr std::int64_t small_limit = 4096;

  explicit by_count(T absent = T{}) : absent_(absent), small_(small_limit, absent) {}

  // The value of `count` (at least 1), entered as `absent` if new.
  T& operator[](std::int64_t count) {
    return count < small_limit ? small_[static_cast<std::size_t>(count)]
                               : large_.try_emplace(count, absent_).first->second;
  }
  // The value of `count`, or nullptr when none was entered.
  T* find(std::int64_t count) {
    if (count < small_limit) {
      T& value = small_[static_cast<std::size_t>(count)];
      return value == absent_ ? nullptr : &value;
    }
    const auto found = large_.find(count);
    return found == large_.end() ? nullptr : &found->second;
  }
  // Calls visit(count, value) for every count entered, in ascending order.
  template <class Visit>
  void for_each(Visit visit) const {
    for (std::int64_t count = 1; count < small_limit; ++count) {
      if (small_[static_cast<std::size_t>(count)] != absent_) {
        visit(count, small_[static_cast<std::size_t>(count)]);
      }
    }
    for (const auto& [count, value] : large_) {
      visit(count, value);
    }
  }

 private:
  T absent_;
  std::vector<T> small_;
  std::map<std::int64_t, T> large_;
};

// One line of frequencies: `distinct_rows` rows read `count` times each,
// listed when they hold fewer rows read than half the row total (rounded
// down). The product never exceeds the row total, so it cannot overflow.
struct group {
  std::int64_t count;
  std::int64_t distinct_rows;
  bool listed;
};

std::vector<group> groups_of(const frequency_table& frequencies, std::int64_t row_total) {
  const std::int64_t threshold = row_total / 2;
  std::vector<group> groups;
  groups.reserve(frequencies.size());
  for (const auto& [count, distinct_rows] : frequencies) {
    groups.push_back({count, distinct_rows, distinct_rows * count < threshold});
  }
  return groups;
}

static_assert(max_row_length <= 0xFF, "a row's length must fit the byte of its key that holds it");

// The rows of every listed group, the groups in ascending order of count.
// It is a block (see allocate_block), so on Linux a listing of 2 MiB or more
// comes in huge pages: on the machine this was measured on, a page fault
// cost about 10 us, so the plain faults of a million listed rows, 16 MB,
// took about 40 ms, more than their sort.
struct listing {
  block<listed_row> rows;
  std::size_t size = 0;

  std::span<listed_row> all() const { return {rows.get(), size}; }
};

// Returns the rows of every listed group, gathered in one pass over the
// table, in the order the table holds them.
listing gather_listed_rows(const row_table& table, const std::vector<group>& groups) {
  // By count, the next free place of a listed group's rows in the listing.
  constexpr std::size_t not_listed = SIZE_MAX;
  by_count<std::size_t> next_place(not_listed);
  listing listed;
  for (const group& g : groups) {
    if (g.listed) {
      next_place[g.count] = listed.size;
      listed.size += static_cast<std::size_t>(g.distinct_rows);
    }
  }
  if (listed.size == 0) {
    return listed;
  }
  listed.rows = allocate_block<listed_row>(listed.size);
  table.for_each([&](std::string_view row, std::int64_t count) {
    if (std::size_t* place = next_place.find(count)) {
      listed.rows[(*place)++] = {key_at(row, 0), row.data()};
    }
  });
  return listed;
}

// Sorts the rows of each listed group in `listed` in ascending byte order.
void sort_each_group(listing& listed, const std::vector<group>& groups) {
  std::size_t largest_group = 0;
  for (const group& g : groups) {
    if (g.listed) {
      largest_group = std::max(largest_group, static_cast<std::size_t>(g.distinct_rows));
    }
  }
  listing_sorter sorter(largest_group);
  std::span<listed_row> rest = listed.all();
  for (const group& g : groups) {
    if (g.listed) {
      sorter.sort(rest.first(static_cast<std::size_t>(g.distinct_rows)));
      rest = rest.subspan(static_cast<std::size_t>(g.distinct_rows));
    }
  }
}

// The lines of the listed rows, each row's text and a newline, in the
// order they are written. They are copied a window at a time into one
// buffer, each row's text fetched some rows ahead of its copy, so that the
// copies' cache misses overlap; the report's writes then read the buffer in
// order, instead of missing the cache on each row between two system calls.
class listed_lines {
 public:
  // A window: room for 655 of the longest lines, or thousands of short
  // ones. Windows of 16 and 256 KiB measured no faster.
  static constexpr std::size_t window_bytes = std::size_t{64} * 1024;

  // Allocates the window, unless nothing is listed.
  explicit listed_lines(std::span<const listed_row> rows)
      : rows_(rows),
        window_(rows.empty() ? nullptr : std::make_unique_for_overwrite<char[]>(window_bytes)) {}

  // The line of the next listed row.
  std::string_view next() {
    if (next_row_ == copied_rows_) {
      copy_window();
    }
    const std::string_view line(window_.get() + next_offset_, rows_[next_row_].length() + 1);
    next_offset_ += line.size();
    ++next_row_;
    return line;
  }

 private:
  // Rows between the fetch of a row's text and its copy.
  static constexpr std::size_t fetch_distance = 16;
  static_assert(window_bytes >= max_row_length + 1);

  // Copies the lines that fit into the window, from the next row on.
  void copy_window() {
    std::size_t used = 0;
    for (; copied_rows_ < rows_.size(); ++copied_rows_) {
      const std::string_view row = rows_[copied_rows_].row();
      if (used + row.size() + 1 > window_bytes) {
        break;
      }
      if (copied_rows_ + fetch_distance < rows_.size()) {
        const std::string_view ahead = rows_[copied_rows_ + fetch_distance].row();
        prefetch(ahead.data());
        prefetch(ahead.data() + ahead.size());
      }
      std::memcpy(window_.get() + used, row.data(), row.size());
      window_[used + row.size()] = '\n';
      used += row.size() + 1;
    }
    next_offset_ = 0;
  }

  std::span<const listed_row> rows_;
  std::unique_ptr<char[]> window_;
  std::size_t copied_rows_ = 0;  // rows copied into windows so far
  std::size_t next_row_ = 0;
  std::size_t next_offset_ = 0;  // of the next row's line in the window
};

// Writes `line` with a single sputn to `output` and then syncs it: what
// std::ostream::write and flush come to, without the stream's two sentries,
// which cost more than a short line's copy (about 120 instructions a line
// with libstdc++).
void write_line(std::streambuf& output, std::string_view line) {
  if (output.sputn(line.data(), static_cast<std::streamsize>(line.size())) !=
          static_cast<std::streamsize>(line.size()) ||
      output.pubsync() != 0) {
    throw std::runtime_error("write error");
  }
}

// A line of the report, formatted in place so that it can be written whole.
class report_line {
 public:
  // Room for the longest line: two 19-digit numbers and the texts.
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

void write_total_line(std::streambuf& output, std::int64_t row_total) {
  write_line(output, report_line().put(row_total).put("rows in total:\n").text());
}

void write_frequency_line(std::streambuf& output, const group& g) {
  write_line(output, report_line()
                         .put(g.distinct_rows)
                         .put(" rows appear ")
                         .put(g.count)
                         .put(g.listed ? " times:\n" : " times\n")
                         .text());
}

}  // namespace

frequency_table build_frequency_table(const row_table& table) {
  by_count<std::int64_t> distinct_rows;
  table.for_each([&](std::string_view, std::int64_t count) { ++distinct_rows[count]; });
  frequency_table frequencies;
  distinct_rows.for_each([&](std::int64_t count, std::int64_t distinct) {
    frequencies.emplace_hint(frequencies.end(), count, distinct);
  });
  return frequencies;
}

void write_report(std::ostream& output, const row_table& table, std::int64_t row_total) {
  const std::vector<group> groups = groups_of(build_frequency_table(table), row_total);
  listing listed = gather_listed_rows(table, groups);
  sort_each_group(listed, groups);
  listed_lines lines(listed.all());

  if (output.rdbuf() == nullptr) {
    throw std::runtime_error("write error");
  }
  std::streambuf& buffer = *output.rdbuf();
  write_total_line(buffer, row_total);
  for (const group& g : groups) {
    write_frequency_line(buffer, g);
    for (std::int64_t i = 0; g.listed && i < g.distinct_rows; ++i) {
      write_line(buffer, lines.next());
    }
  }
}

}  // namespace rowfreq
