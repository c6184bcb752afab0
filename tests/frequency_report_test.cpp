#include "frequency_report/frequency_report.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "row_tally/row_tally.h"

namespace {

using namespace std::string_literals;
using rowfreq::row_table;

std::string report_of(const row_table& table, std::int64_t row_total) {
  std::ostringstream output;
  rowfreq::write_report(output, table, row_total);
  return output.str();
}

std::string report_of(const std::string& input) {
  std::istringstream stream(input);
  row_table table;
  const std::int64_t row_total = rowfreq::tally_rows(stream, table);
  return report_of(table, row_total);
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

TEST(FrequencyReport, StopsAtTheFirstFailedWrite) {
  // A failure that carries its reason passes it on when the stream lets
  // exceptions through; one that does not still stops the report.
  for (const bool quietly : {false, true}) {
    SCOPED_TRACE(quietly ? "stream fails quietly" : "stream throws");
    recording_buffer buffer(2, quietly);
    std::ostream output(&buffer);
    output.exceptions(quietly ? std::ios::goodbit : std::ios::badbit);
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
}

}  // namespace
