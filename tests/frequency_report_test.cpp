#include "frequency_report/frequency_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "frequency_report/fd_output.h"
#include "frequency_report/listing_sort.h"
#include "row_tally/row_tally.h"
#include "tests/row_model.h"

namespace {

using namespace std::string_literals;
using rowfreq::row_table;

std::string report_of(const row_table& table, std::int64_t row_total) {
  std::ostringstream output;
  rowfreq::write_report(output, table, row_total);
  return output.str();
}

std::string report_of(const std::string& input,
                      std::size_t block_size = rowfreq::default_block_size) {
  std::istringstream stream(input);
  row_table table;
  const std::int64_t row_total = rowfreq::tally_rows(stream, table, block_size);
  return report_of(table, row_total);
}

// Whether `report` is `expected`; when not, says where they first differ.
// GoogleTest's own message for two unequal strings shows their whole
// difference, which for reports of a hundred thousand lines takes minutes.
testing::AssertionResult same_report(const std::string& report, const std::string& expected) {
  if (report == expected) {
    return testing::AssertionSuccess();
  }
  const auto [at, _] =
      std::mismatch(report.begin(), report.end(), expected.begin(), expected.end());
  const auto offset = static_cast<std::size_t>(at - report.begin());
  const std::size_t line_start = report.rfind('\n', offset == 0 ? 0 : offset - 1);
  const std::size_t from = line_start == std::string::npos ? 0 : line_start + 1;
  return testing::AssertionFailure()
         << "the reports differ from byte " << offset << " on: report "
         << testing::PrintToString(report.substr(from, 120)) << ", expected "
         << testing::PrintToString(expected.substr(from, 120));
}

std::string repeated(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) {
    result += text;
  }
  return result;
}

struct report_case {
  const char* name;
  std::string input;
  std::string report;
};

const report_case report_cases[] = {
    {"worked example", "p\nq\np\np\np\nr",
     "6rows in total:\n2 rows appear 1 times:\nq\nr\n1 rows appear 4 times\n"},
    {"empty input", "", "0rows in total:\n"},
    {"one row: threshold 0 lists nothing", "p\n", "1rows in total:\n1 rows appear 1 times\n"},
    {"product equal to threshold 1 is not listed", "p\nq\np",
     "3rows in total:\n1 rows appear 1 times\n1 rows appear 2 times\n"},
    {"product equal to threshold 2 is not listed", "p\np\nq\nr",
     "4rows in total:\n2 rows appear 1 times\n1 rows appear 2 times\n"},
    {"odd total rounds the threshold down", "p\np\np\np\nq",
     "5rows in total:\n1 rows appear 1 times:\nq\n1 rows appear 4 times\n"},
    {"all distinct: one line, nothing listed", "c\na\nb\nd\n",
     "4rows in total:\n4 rows appear 1 times\n"},
    {"counts ascend whatever the reading order", "z\nz\nz\ny\ny\nx\nw\nw\nw\nw\nw\nw\nw",
     "13rows in total:\n1 rows appear 1 times:\nx\n1 rows appear 2 times:\ny\n"
     "1 rows appear 3 times:\nz\n1 rows appear 7 times\n"},
    {"rows alike in their first 8 bytes are ordered by the rest",
     "abcdefghb\nabcdefgh\nabcdefgh\x80\nabcdefg\nabcdefghA\nabcdefgi\nzzzzzzz\n" +
         repeated("zzzzzzzzz\n", 9),
     "16rows in total:\n7 rows appear 1 times:\nabcdefg\nabcdefgh\nabcdefghA\nabcdefghb\n"
     "abcdefgh\x80\nabcdefgi\nzzzzzzz\n1 rows appear 9 times\n"},
    {"listing in unsigned byte order, empty row first",
     "b\nB\na\nA\npq\np\n\n\x80\n~\n" + std::string(20, 'z') + "\n" +
         "z\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\nz\n",
     "30rows in total:\n10 rows appear 1 times:\n\nA\nB\na\nb\np\npq\n" + std::string(20, 'z') +
         "\n~\n\x80\n1 rows appear 20 times\n"},
};

TEST(FrequencyReport, WritesTheExactReport) {
  for (const report_case& c : report_cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(report_of(c.input), c.report);
  }
}

TEST(FrequencyReport, CountsPastThe32BitRange) {
  // Three rows read a billion times each make a group of 3e9 rows: listed,
  // since it is under half of 1e10. 32-bit arithmetic would get it wrong.
  const row_table table = {
      {"x1", 1'000'000'000}, {"x2", 1'000'000'000}, {"x3", 1'000'000'000}, {"y", 7'000'000'000}};
  EXPECT_EQ(report_of(table, 10'000'000'000),
            "10000000000rows in total:\n3 rows appear 1000000000 times:\nx1\nx2\nx3\n"
            "1 rows appear 7000000000 times\n");
}

TEST(FrequencyReport, BuildsOneEntryPerCount) {
  const row_table table = {{"a", 2}, {"b", 5}, {"c", 2}, {"d", 1}};
  EXPECT_EQ(rowfreq::build_frequency_table(table),
            (rowfreq::frequency_table{{1, 1}, {2, 2}, {5, 1}}));
}

// Records what reaches the stream buffer between flushes. Once
// `writes_allowed` chunks have been flushed, every write fails: it throws
// as a failed system write does, or, when `quietly`, only reports that
// nothing was written.
class recording_buffer : public std::streambuf {
 public:
  explicit recording_buffer(std::size_t writes_allowed = SIZE_MAX, bool quietly = false)
      : writes_allowed_(writes_allowed), quietly_(quietly) {}

  std::vector<std::string> flushed;
  std::size_t failed_attempts = 0;

 protected:
  std::streamsize xsputn(const char* text, std::streamsize length) override {
    if (flushed.size() >= writes_allowed_) {
      ++failed_attempts;
      if (quietly_) {
        return 0;
      }
      throw std::system_error(ENOSPC, std::generic_category(), "write error");
    }
    pending_.append(text, static_cast<std::size_t>(length));
    return length;
  }
  int_type overflow(int_type c) override {
    return xsputn(&reinterpret_cast<char&>(c), 1) == 1 ? c : traits_type::eof();
  }
  int sync() override {
    if (!pending_.empty()) {
      flushed.push_back(std::move(pending_));
      pending_.clear();
    }
    return 0;
  }

 private:
  std::size_t writes_allowed_;
  bool quietly_;
  std::string pending_;
};

TEST(FrequencyReport, FlushesEachWholeLineOnce) {
  recording_buffer buffer;
  std::ostream output(&buffer);
  const row_table table = {{"p", 4}, {"q", 1}, {"r", 1}};
  rowfreq::write_report(output, table, 6);
  EXPECT_EQ(buffer.flushed,
            (std::vector<std::string>{"6rows in total:\n", "2 rows appear 1 times:\n", "q\n", "r\n",
                                      "1 rows appear 4 times\n"}));
}

TEST(FrequencyReport, WritesListingsLongerThanAWindow) {
  // The listed rows' text is copied into a window of 65,536 bytes at a
  // time before it is written. Here the first 1,024 lines of 64 bytes fill
  // the first window exactly, in the midst of a group; the second window
  // holds the rest of that group, the group of one row and the start of
  // the last group, and ends 99 bytes short of full, so the next line of
  // 100 bytes must begin a third. Each line must still be flushed whole,
  // once, and in order.
  std::map<std::string, std::int64_t> counts;
  for (int i = 0; i < 1100; ++i) {
    counts[std::string(58, 'a') + std::to_string(10'000 + i)] = 1;
  }
  counts[std::string(72, 'b')] = 2;
  for (int i = 0; i < 700; ++i) {
    counts[std::string(92, 'c') + std::to_string(1'000'000 + i)] = 3;
  }
  counts["often"] = 100'000;
  row_table table;
  std::int64_t row_total = 0;
  for (const auto& [row, count] : counts) {
    table.add(row, count);
    row_total += count;
  }
  recording_buffer buffer;
  std::ostream output(&buffer);
  rowfreq::write_report(output, table, row_total);

  std::string report;
  for (const std::string& line : buffer.flushed) {
    ASSERT_EQ(line.find('\n'), line.size() - 1) << "not one whole line: " << line;
    report += line;
  }
  EXPECT_EQ(report, model_report(counts));
}

TEST(FrequencyReport, StopsAtTheFirstFailedWrite) {
  // A failure that carries its reason passes it on, whatever exceptions the
  // stream lets through; one that does not still stops the report.
  for (const bool quietly : {false, true}) {
    SCOPED_TRACE(quietly ? "stream fails quietly" : "stream throws");
    recording_buffer buffer(2, quietly);
    std::ostream output(&buffer);
    const row_table table = {{"p", 4}, {"q", 1}, {"r", 1}};
    try {
      rowfreq::write_report(output, table, 6);
      FAIL() << "a failed write went unnoticed";
    } catch (const std::system_error& failure) {
      EXPECT_FALSE(quietly);
      EXPECT_EQ(failure.code(), std::errc::no_space_on_device);
    } catch (const std::runtime_error& failure) {
      EXPECT_TRUE(quietly);
      EXPECT_STREQ(failure.what(), "write error");
    }
    EXPECT_EQ(buffer.flushed.size(), 2u);
    EXPECT_EQ(buffer.failed_attempts, 1u);
  }
  // Nor does a buffer that cannot sync, or a stream without a buffer, pass
  // for one that took the report.
  struct unsyncable_buffer : std::streambuf {
    int lines = 0;
    std::streamsize xsputn(const char*, std::streamsize length) override {
      ++lines;
      return length;
    }
    int sync() override { return -1; }
  } unsyncable;
  std::ostream unsynced(&unsyncable);
  EXPECT_THROW(rowfreq::write_report(unsynced, row_table{{"p", 1}}, 1), std::runtime_error);
  EXPECT_EQ(unsyncable.lines, 1);
  std::ostream no_buffer(nullptr);
  EXPECT_THROW(rowfreq::write_report(no_buffer, row_table{{"p", 1}}, 1), std::runtime_error);
}

TEST(FrequencyReport, TellsApartRowsThatDifferInOneByte) {
  // Rows of every length around the hash's word sizes and the longest row,
  // each beside rows that differ from it in one byte, at every position:
  // rows mistaken for one another, or misordered, change the report. One
  // row read more often than all of them together gets them listed.
  std::string input;
  for (std::size_t length = 0; length <= 101; length = length == 17 ? 95 : length + 1) {
    const std::string row(length, 'm');
    input += row + "\n";
    for (std::size_t i = 0; i < length; ++i) {
      for (const char other : {'l', 'n'}) {
        std::string variant = row;
        variant[i] = other;
        input += variant + "\n";
      }
    }
  }
  input += repeated("often\n", 2000);
  const std::string expected = model_report(input);
  for (const std::size_t block_size : {1, 2, 3, 7, 64 * 1024}) {
    SCOPED_TRACE(testing::Message() << "blocks of " << block_size);
    EXPECT_TRUE(same_report(report_of(input, block_size), expected));
  }
}

TEST(FrequencyReport, ListsAnyBytesInByteOrder) {
  // Each case's rows are read once, with one row read more often than all
  // of them together, which gets them listed.
  const std::string p96(96, 'p');
  const struct {
    const char* name;
    std::vector<std::string> rows;
  } cases[] = {
      {"rows that differ only after a NUL",
       {"a", "a\0"s, "a\0b"s, "a\0\0"s, "\0"s, "", "\0\0"s, "b"}},
      {"rows alike in their first 8 bytes",
       {"abcdefgh", "abcdefgha", "abcdefgh\0"s, "abcdefgh\xff", "abcdefgh\0\x01"s, "abcdefg"}},
      {"rows alike in their first 16 bytes",
       {"0123456789abcdef", "0123456789abcdefx", "0123456789abcdef\0"s, "0123456789abcdeg"}},
      {"rows alike in their first 96 bytes",
       {p96, p96 + "a", p96 + "\0"s, p96 + "\0\0"s, p96 + "\0\0\0"s, p96 + "zzz", p96 + "\x80"}},
      {"rows that begin others", {"p", "pq", "pqr", "pqrs", "pqrstuvwxyz", "pqrstuvwx"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    row_table table;
    std::map<std::string, std::int64_t> counts;
    for (const std::string& row : c.rows) {
      table.add(row);
      counts[row] = 1;
    }
    const auto others = static_cast<std::int64_t>(c.rows.size());
    table.add("~often", others + 1);
    counts["~often"] = others + 1;
    EXPECT_EQ(report_of(table, 2 * others + 1), model_report(counts));
  }
  // Rows that once sent the sort into endless recursion.
  const row_table table = {{"a", 1}, {"a\0"s, 1}, {"z", 10}};
  EXPECT_EQ(report_of(table, 12),
            "12rows in total:\n2 rows appear 1 times:\na\na\0\n"s + "1 rows appear 10 times\n");
}

// Returns `rows` sorted by a listing_sorter, from a scrambled order.
std::vector<std::string> sorted_as_listed(const std::set<std::string>& rows) {
  std::vector<rowfreq::listed_row> listed;
  listed.reserve(rows.size());
  for (const std::string& row : rows) {
    listed.push_back({rowfreq::key_at(row, 0), row.data()});
  }
  std::shuffle(listed.begin(), listed.end(), std::mt19937(15));
  rowfreq::listing_sorter(listed.size()).sort(listed);
  std::vector<std::string> sorted(listed.size());
  std::transform(listed.begin(), listed.end(), sorted.begin(),
                 [](const rowfreq::listed_row& row) { return std::string(row.row()); });
  return sorted;
}

// The numbers from 0 to `count` - 1, each after `prefix` and before `suffix`.
std::set<std::string> numbered(const std::string& prefix, int count,
                               const std::string& suffix = "") {
  std::set<std::string> rows;
  for (int i = 0; i < count; ++i) {
    std::string row = prefix;
    row += std::to_string(i);
    row += suffix;
    rows.insert(std::move(row));
  }
  return rows;
}

// `count` rows of random bytes, NULs among them, of up to `longest` bytes.
std::set<std::string> random_rows(int count, std::size_t longest) {
  std::mt19937 random(count);
  std::set<std::string> rows;
  while (rows.size() < static_cast<std::size_t>(count)) {
    std::string row(random() % (longest + 1), '\0');
    for (char& c : row) {
      c = static_cast<char>(random() % 4 == 0 ? 0 : random());
    }
    rows.insert(row);
  }
  return rows;
}

TEST(ListingSort, SortsAnyRowsInByteOrder) {
  // Each case takes a path of the sort: the sizes choose insertion (up to
  // 24 rows), a radix pass a byte in place (above 16,384 rows, or below
  // 256) or the passes in the scratch area (in between); shared bytes
  // send whole ranges, or runs within them, 7 bytes deeper.
  const std::string p93(93, 'p');
  const struct {
    const char* name;
    std::set<std::string> rows;
  } cases[] = {
      {"no row", {}},
      {"one row", {"x"}},
      {"every key byte shared, ranges sent deeper at several depths",
       numbered(std::string(30, 'a'), 600)},
      {"runs alike in 7 bytes, some rows ending within them, at 3 depths",
       [] {
         std::set<std::string> rows;
         for (const std::size_t depth : {0, 7, 14}) {
           for (int nuls = 0; nuls <= 9; ++nuls) {
             for (const char* end : {"", "a", "\x80", "\xff"}) {
               rows.insert(std::string(depth, 'x') + "abc" + std::string(nuls, '\0') + end);
             }
           }
         }
         return rows;
       }()},
      {"more rows than the scratch area holds, random bytes", random_rows(40'000, 20)},
      {"between insertion and the scratch area, random bytes", random_rows(150, 40)},
      {"numbers behind a shared byte, as in a listing of singletons", numbered("s", 100'000)},
      {"numbers in log lines, some runs going on past 21 bytes",
       numbered("GET /shop/item/", 30'000, ".html 200")},
      {"rows as long as rows get, alike but for their last bytes",
       [&p93] {
         std::set<std::string> rows = random_rows(2'000, 6);
         std::set<std::string> long_rows;
         for (const std::string& tail : rows) {
           long_rows.insert(p93 + tail);
         }
         return long_rows;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> expected(c.rows.begin(), c.rows.end());
    EXPECT_EQ(sorted_as_listed(c.rows), expected);
  }
}

TEST(FrequencyReport, CountsEitherSideOfTheSmallCountLimit) {
  const row_table table = {{"a", 4095}, {"b", 4096}, {"c", 4096},
                           {"d", 4097}, {"e", 4095}, {"z", 100'000}};
  EXPECT_EQ(rowfreq::build_frequency_table(table),
            (rowfreq::frequency_table{{4095, 2}, {4096, 2}, {4097, 1}, {100'000, 1}}));
  EXPECT_EQ(report_of(table, 124'479),
            "124479rows in total:\n2 rows appear 4095 times:\na\ne\n2 rows appear 4096 times:\n"
            "b\nc\n1 rows appear 4097 times:\nd\n1 rows appear 100000 times\n");
}

TEST(FrequencyReport, ListsMoreRowsThanAHugePageHolds) {
  // 140,000 listed rows take 2.2 MB of listing, which on Linux is aligned
  // to and advised as huge pages of 2 MiB.
  std::string input;
  for (std::uint64_t i = 0; i < 140'000; ++i) {
    input += std::to_string(i * 7'919 % 140'000) + "\n";
  }
  input += repeated("often\n", 150'000);
  EXPECT_TRUE(same_report(report_of(input), model_report(input)));
}

TEST(FrequencyReport, MatchesTheModelOnManyDistinctRows) {
  // 120,000 distinct rows of many lengths, read 1, 2 or 3 times in a
  // scrambled order, outgrow the cache-sized table: its lookups are then
  // batched and fetched ahead. One row read 100,000 times gets all three
  // groups listed: 120,000 rows of them sorted and written.
  std::vector<std::uint32_t> reads;
  for (std::uint32_t n = 0; n < 120'000; ++n) {
    reads.insert(reads.end(), 1 + n % 3, n);
  }
  std::shuffle(reads.begin(), reads.end(), std::mt19937(5));
  std::string input;
  for (const std::uint32_t n : reads) {
    input += std::to_string(n) + std::string(n % 90, 'x') + "\n";
  }
  input += repeated("often\n", 100'000);
  const std::string report = report_of(input);
  EXPECT_TRUE(same_report(report, model_report(input)));
  EXPECT_NE(report.find("40000 rows appear 3 times:\n"), std::string::npos);
}

// What the scripted write calls below do, one step per call: write up to
// `written` characters (-1: fail with errno set to `error`).
struct write_step {
  long written;
  int error = 0;
};
std::deque<write_step> write_script;
std::string written_text;

long scripted_write(int, const char* text, std::size_t size) {
  if (write_script.empty()) {
    written_text.append(text, size);
    return static_cast<long>(size);
  }
  const write_step step = write_script.front();
  write_script.pop_front();
  if (step.written < 0) {
    errno = step.error;
    return -1;
  }
  const std::size_t taken = std::min(size, static_cast<std::size_t>(step.written));
  written_text.append(text, taken);
  return static_cast<long>(taken);
}

// Writes `text` through an fd_output_buffer whose writes follow `script`;
// returns the error it throws, if any.
std::error_code write_through(std::deque<write_step> script, const std::string& text) {
  write_script = std::move(script);
  written_text.clear();
  rowfreq::fd_output_buffer buffer(1, scripted_write);
  try {
    EXPECT_EQ(buffer.sputn(text.data(), static_cast<std::streamsize>(text.size())),
              static_cast<std::streamsize>(text.size()));
  } catch (const std::system_error& failure) {
    return failure.code();
  }
  return {};
}

TEST(FdOutput, WritesEverythingOrFails) {
  EXPECT_EQ(write_through({{2}, {-1, EINTR}, {1}}, "abcdef"), std::error_code());
  EXPECT_EQ(written_text, "abcdef");
  EXPECT_EQ(write_through({{2}, {-1, ENOSPC}}, "abcdef"), std::errc::no_space_on_device);
  EXPECT_EQ(written_text, "ab");
  // A write that writes nothing, and says nothing, would be tried for ever.
  EXPECT_EQ(write_through({{2}, {0}}, "abcdef"), std::errc::io_error);
  EXPECT_EQ(written_text, "ab");
}

}  // namespace
