#include "frequency_report/frequency_report.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace rowfreq {

namespace {

// Counts below this are tallied in a vector indexed by the count, the rest
// in the ordered table: most distinct rows have small counts, and a vector
// costs no tree lookup per row.
constexpr std::int64_t small_count_limit = 4096;

// One line of frequencies: `rows` distinct rows read `count` times each,
// listed when they hold fewer rows read than half the row total (rounded
// down). The product never exceeds the row total, so it cannot overflow.
struct group {
  std::int64_t count;
  std::int64_t rows;
  bool listed;
};

std::vector<group> groups_of(const frequency_table& frequencies, std::int64_t row_total) {
  const std::int64_t threshold = row_total / 2;
  std::vector<group> groups;
  groups.reserve(frequencies.size());
  for (const auto& [count, rows] : frequencies) {
    groups.push_back({count, rows, rows * count < threshold});
  }
  return groups;
}

// A listed row and 8 of its bytes, from some depth on, as a big-endian
// number, zero-padded past the row's end: comparing those numbers orders
// rows alike before that depth as their bytes do. Rows hold no NUL, so the
// padding never ties a row with a longer one.
struct listed_row {
  std::uint64_t key = 0;
  std::string_view row;
};

std::uint64_t key_at(std::string_view row, std::size_t depth) {
  std::uint64_t key = 0;
  for (std::size_t i = depth; i < depth + 8; ++i) {
    key = key << 8 | (i < row.size() ? static_cast<unsigned char>(row[i]) : 0u);
  }
  return key;
}

// Sorts [first, last), rows alike in their first `depth` bytes, in byte
// order: by their next 8 bytes, then each run alike in those by the 8
// after, and so on. Comparisons read the keys beside the rows, not the row
// text, which would cost a cache miss and a memcmp each; log lines often
// share their first 8 bytes, or many more.
void sort_rows(listed_row* first, listed_row* last, std::size_t depth) {
  for (listed_row* r = first; r != last; ++r) {
    r->key = key_at(r->row, depth);
  }
  const auto by_key = [](const listed_row& a, const listed_row& b) { return a.key < b.key; };
  std::sort(first, last, by_key);
  // Rows alike in these 8 bytes too reach further: two distinct rows
  // cannot both end within them.
  for (listed_row* run = first; run != last;) {
    listed_row* run_end = std::upper_bound(run, last, *run, by_key);
    if (run_end - run > 1) {
      sort_rows(run, run_end, depth + 8);
    }
    run = run_end;
  }
}

// Where each listed group's rows go in the listing: by count, the group's
// next free place. Groups follow each other in ascending order of count.
class listing_places {
 public:
  static constexpr std::size_t not_listed = SIZE_MAX;

  explicit listing_places(const std::vector<group>& groups)
      : small_(small_count_limit, not_listed) {
    for (const group& g : groups) {
      if (g.listed) {
        (g.count < small_count_limit ? small_[g.count] : large_[g.count]) = total_;
        total_ += static_cast<std::size_t>(g.rows);
      }
    }
  }
  // The number of rows listed in all.
  std::size_t total() const { return total_; }
  // Returns the place of the next row read `count` times, or nullptr when
  // its group is not listed.
  std::size_t* next(std::int64_t count) {
    if (count < small_count_limit) {
      std::size_t& place = small_[count];
      return place == not_listed ? nullptr : &place;
    }
    const auto found = large_.find(count);
    return found == large_.end() ? nullptr : &found->second;
  }

 private:
  std::vector<std::size_t> small_;
  std::map<std::int64_t, std::size_t> large_;
  std::size_t total_ = 0;
};

// Returns the rows of every listed group, gathered in one pass over the
// table: the groups in ascending order of count, the rows of each in
// ascending byte order.
std::vector<listed_row> gather_listed_rows(const row_table& table,
                                           const std::vector<group>& groups) {
  listing_places places(groups);
  std::vector<listed_row> listed(places.total());
  if (listed.empty()) {
    return listed;
  }
  table.for_each([&](std::string_view row, std::int64_t count) {
    if (std::size_t* place = places.next(count)) {
      listed[(*place)++].row = row;
    }
  });
  auto group_begin = listed.begin();
  for (const group& g : groups) {
    if (g.listed) {
      sort_rows(&*group_begin, &*group_begin + g.rows, 0);
      group_begin += g.rows;
    }
  }
  return listed;
}

// Writes `line` with a single write and a single flush.
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
  // Room for the longest line: two 19-digit numbers and the texts, or a
  // row and its newline.
  static constexpr std::size_t capacity = 128;
  static_assert(max_row_length + 1 <= capacity);

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

void write_frequency_line(std::ostream& output, const group& g) {
  write_line(output, report_line()
                         .put(g.rows)
                         .put(" rows appear ")
                         .put(g.count)
                         .put(g.listed ? " times:\n" : " times\n")
                         .text());
}

}  // namespace

frequency_table build_frequency_table(const row_table& table) {
  std::vector<std::int64_t> small_counts(small_count_limit);
  frequency_table frequencies;
  table.for_each([&](std::string_view, std::int64_t count) {
    if (count < small_count_limit) {
      ++small_counts[count];
    } else {
      ++frequencies[count];
    }
  });
  // Every small count goes right before the first large one.
  const auto first_large = frequencies.begin();
  for (std::int64_t count = 1; count < small_count_limit; ++count) {
    if (small_counts[count] != 0) {
      frequencies.emplace_hint(first_large, count, small_counts[count]);
    }
  }
  return frequencies;
}

void write_report(std::ostream& output, const row_table& table, std::int64_t row_total) {
  const std::vector<group> groups = groups_of(build_frequency_table(table), row_total);
  const std::vector<listed_row> listed = gather_listed_rows(table, groups);

  write_total_line(output, row_total);
  auto next_listed = listed.begin();
  for (const group& g : groups) {
    write_frequency_line(output, g);
    for (const auto group_end = next_listed + (g.listed ? g.rows : 0); next_listed != group_end;
         ++next_listed) {
      write_line(output, report_line().put(next_listed->row).put("\n").text());
    }
  }
}

}  // namespace rowfreq
