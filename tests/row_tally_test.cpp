#include "row_tally/row_tally.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

#include "row_tally/fd_input.h"
#include "row_tally/newlines.h"
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

// What the scripted read calls below do, one step per call: give `text`,
// or, when `text` is empty, return `result` with errno set to `error`.
struct read_step {
  std::string text;
  long result = 0;
  int error = 0;
};
std::deque<read_step> read_script;
std::size_t reads_made = 0;

long scripted_read(int, char* text, std::size_t size) {
  ++reads_made;
  if (read_script.empty()) {
    ADD_FAILURE() << "read again after the end of input";
    return 0;
  }
  read_step& step = read_script.front();
  if (step.text.empty()) {
    const long result = step.result;
    errno = step.error;
    read_script.pop_front();
    return result;
  }
  const std::size_t given = std::min(size, step.text.size());
  step.text.copy(text, given);
  step.text.erase(0, given);
  if (step.text.empty()) {
    read_script.pop_front();
  }
  return static_cast<long>(given);
}

// The characters an fd_input_buffer reading `script` gives to one sgetn of
// `size` characters.
std::string read_through(std::deque<read_step> script, std::streamsize size) {
  read_script = std::move(script);
  reads_made = 0;
  rowfreq::fd_input_buffer buffer(0, scripted_read);
  std::string text(static_cast<std::size_t>(size), '?');
  text.resize(static_cast<std::size_t>(buffer.sgetn(text.data(), size)));
  return text;
}

TEST(FdInput, GathersShortReadsUntilTheEndOfInput) {
  const read_step end_of_input{"", 0, 0};
  const read_step interrupted{"", -1, EINTR};
  EXPECT_EQ(read_through({{"ab"}, {"cd"}, end_of_input}, 10), "abcd");
  EXPECT_EQ(reads_made, 3u);
  EXPECT_EQ(read_through({{"ab"}, interrupted, {"c"}, end_of_input}, 10), "abc");
  // A full block needs no further read; a read larger than the block is
  // taken in parts.
  EXPECT_EQ(read_through({{"abcdef"}}, 4), "abcd");
  EXPECT_EQ(reads_made, 1u);
}

TEST(FdInput, NeverReadsPastTheEndOfInput) {
  read_script = {{"p\n"}, {"", 0, 0}, {"never read\n"}};
  rowfreq::fd_input_buffer buffer(0, scripted_read);
  std::istream stream(&buffer);
  row_table table;
  EXPECT_EQ(tally_rows(stream, table, 64), 1);
  EXPECT_EQ(read_script.size(), 1u);
  char c = 0;
  EXPECT_EQ(buffer.sgetn(&c, 1), 0);
  EXPECT_EQ(read_script.size(), 1u);
}

TEST(FdInput, ThrowsTheReasonOfAFailedRead) {
  try {
    read_through({{"ab"}, {"", -1, EIO}}, 10);
    FAIL() << "a failed read went unnoticed";
  } catch (const std::system_error& failure) {
    EXPECT_EQ(failure.code(), std::errc::io_error);
  }
}

// The offsets of the newlines of `text` in [from, to) that for_each_newline finds.
std::vector<std::size_t> newlines_found(const std::string& text, std::size_t from, std::size_t to) {
  std::vector<std::size_t> found;
  rowfreq::for_each_newline(text.data() + from, text.data() + to, [&](const char* p) {
    found.push_back(static_cast<std::size_t>(p - text.data()));
  });
  return found;
}

TEST(NewlineScan, FindsEveryNewlineWhateverTheLines) {
  // From lines of one byte to lines long enough for memchr, at every start
  // and end position within a word.
  std::mt19937 random(3);
  for (const int one_in : {1, 2, 7, 40, 1000}) {
    std::string text(3000, 'x');
    for (char& c : text) {
      c = random() % one_in == 0 ? '\n' : static_cast<char>('a' + random() % 200);
    }
    for (std::size_t from = 0; from < 9; ++from) {
      for (const std::size_t to : {from, from + 1, from + 7, from + 8, from + 9, text.size()}) {
        SCOPED_TRACE(testing::Message()
                     << "one in " << one_in << ", [" << from << ", " << to << ")");
        std::vector<std::size_t> expected;
        for (std::size_t i = from; i < to; ++i) {
          if (text[i] == '\n') {
            expected.push_back(i);
          }
        }
        EXPECT_EQ(newlines_found(text, from, to), expected);
      }
    }
  }
}

}  // namespace
