#include "row_tally/row_tally.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

#include "tests/row_model.h"

namespace {

using namespace std::string_literals;
using rowfreq::row_table;
using rowfreq::tally_rows;

using sorted_counts = std::map<std::string, std::int64_t>;

struct tally_result {
  std::int64_t row_total;
  sorted_counts counts;
};

tally_result tally(const std::string& input, std::size_t block_size = rowfreq::default_block_size) {
  std::istringstream stream(input);
  row_table table;
  const std::int64_t row_total = tally_rows(stream, table, block_size);
  sorted_counts counts;
  table.for_each([&](std::string_view row, std::int64_t count) { counts.emplace(row, count); });
  return {row_total, counts};
}

struct row_case {
  const char* name;
  std::string input;
  std::int64_t row_total;
  sorted_counts counts;
};

const std::string a99(99, 'a');

const row_case row_cases[] = {
    {"three rows, no final newline", "q\np\nq", 3, {{"p", 1}, {"q", 2}}},
    {"empty input", "", 0, {}},
    {"final newline adds no row", "a\n", 1, {{"a", 1}}},
    {"empty lines are rows", "\n\nb\n", 3, {{"", 2}, {"b", 1}}},
    {"case and spaces count", "a\nA\na \n", 3, {{"a", 1}, {"A", 1}, {"a ", 1}}},
    {"carriage return is a character", "a\r\na\n", 2, {{"a\r", 1}, {"a", 1}}},
    {"ctrl-z is a character",
     "a\x1a"
     "b\n",
     1,
     {{"a\x1a"
       "b",
       1}}},
    {"nul cuts the row", "x\0y\nx\0z\n"s, 2, {{"x", 2}}},
    {"nul first gives the empty row", "\0abc"s, 1, {{"", 1}}},
    {"99 characters are kept", a99 + "\n", 1, {{a99, 1}}},
    {"100th character is dropped", a99 + "b\n" + a99 + "c\n", 2, {{a99, 2}}},
    {"nul past 99 characters is dropped", a99 + "\0"s + "\n", 1, {{a99, 1}}},
    {"bytes above 0x7f", "\x80\xff\n", 1, {{"\x80\xff", 1}}},
};

TEST(RowTally, CountsEachRow) {
  // Small read blocks make rows straddle blocks at every place.
  for (const std::size_t block_size : {1, 2, 3, 7, 64 * 1024}) {
    for (const row_case& c : row_cases) {
      SCOPED_TRACE(testing::Message() << c.name << ", blocks of " << block_size);
      const tally_result result = tally(c.input, block_size);
      EXPECT_EQ(result.row_total, c.row_total);
      EXPECT_EQ(result.counts, c.counts);
    }
  }
}

TEST(RowTally, JoinsLinesAcrossReadBlocks) {
  // Lines of every length from 0 to 149, some with a NUL, over several read
  // blocks: many lines straddle a block boundary wherever the blocks end.
  std::string input;
  for (int i = 0; input.size() < 600'000; ++i) {
    std::string line(static_cast<std::size_t>(i % 150), static_cast<char>('a' + i % 7));
    if (i % 11 == 0 && !line.empty()) {
      line[line.size() / 2] = '\0';
    }
    input += line + '\n';
  }
  input += "last line without newline";
  EXPECT_EQ(tally(input).counts, model_row_counts(input));
}

TEST(RowTally, KeepsOnlyTheRowOfALineLongerThanAnyBlock) {
  const std::string long_line = "x"s + std::string(1'000'000, 'y');
  const tally_result result = tally("a\n"s.append(long_line).append("\nb\n").append(long_line));
  EXPECT_EQ(result.row_total, 4);
  EXPECT_EQ(result.counts, (sorted_counts{{"a", 1}, {"b", 1}, {"x"s.append(98, 'y'), 2}}));
}

// A stream buffer that hands out `data` and then either fails as a failed
// system read does or, like a terminal after its end-of-input key, meets
// the end of input once and then hands out `more`.
class scripted_buffer : public std::streambuf {
 public:
  scripted_buffer(std::string data, std::string more, bool fail)
      : data_(std::move(data)), more_(std::move(more)), fail_(fail) {
    setg(data_.data(), data_.data(), data_.data() + data_.size());
  }

 protected:
  int_type underflow() override {
    if (fail_) {
      throw std::system_error(EIO, std::generic_category(), "read error");
    }
    if (!ended_once_) {
      ended_once_ = true;
      return traits_type::eof();
    }
    setg(more_.data(), more_.data(), more_.data() + more_.size());
    return more_.empty() ? traits_type::eof() : traits_type::to_int_type(more_[0]);
  }

 private:
  std::string data_, more_;
  bool fail_;
  bool ended_once_ = false;
};

TEST(RowTally, StopsAtTheFirstEndOfInput) {
  // Whether the end of input comes inside a read block or right after a
  // full one, the rows after it are never read.
  for (const std::size_t block_size :
       {std::size_t{3}, std::size_t{5}, rowfreq::default_block_size}) {
    SCOPED_TRACE(block_size);
    scripted_buffer buffer("p\nq\np", "never read\n", false);
    std::istream stream(&buffer);
    row_table table;
    EXPECT_EQ(tally_rows(stream, table, block_size), 3);
  }
}

TEST(RowTally, PassesOnAReadThatFailsMidway) {
  scripted_buffer buffer("p\nq\np\n", "", true);
  std::istream stream(&buffer);
  row_table table;
  try {
    tally_rows(stream, table, 2);
    FAIL() << "a failed read went unnoticed";
  } catch (const std::system_error& failure) {
    EXPECT_EQ(failure.code(), std::errc::io_error);
  }
}

}  // namespace
