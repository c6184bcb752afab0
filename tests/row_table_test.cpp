#include "row_tally/row_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "row_tally/fold_multiply.h"

namespace {

using rowfreq::row_table;
using counts = std::map<std::string, std::int64_t>;

counts counts_of(const row_table& table) {
  counts result;
  table.for_each([&](std::string_view row, std::int64_t count) {
    EXPECT_TRUE(result.emplace(row, count).second) << "row entered twice: " << row;
  });
  return result;
}

// Rows of every length from 0 to 99, some sharing long prefixes, read
// a few times each in a scrambled order.
std::vector<std::string> sample_rows() {
  std::mt19937 random(7);
  std::vector<std::string> rows;
  for (int i = 0; i < 3000; ++i) {
    const std::size_t length = i % 100;
    std::string row(length, 'a');
    for (std::size_t j = 0; j < length; ++j) {
      row[j] = static_cast<char>(j + 1 < length ? 'a' + i % 3 : 'a' + random() % 26);
    }
    rows.insert(rows.end(), 1 + i % 4, row);
  }
  std::shuffle(rows.begin(), rows.end(), random);
  return rows;
}

// Adds `rows` to `table` in batches as large as add_each takes.
void add_in_batches(row_table& table, const std::vector<std::string_view>& rows) {
  for (std::size_t start = 0; start < rows.size(); start += row_table::max_batch) {
    table.add_each(
        std::span(rows).subspan(start, std::min(row_table::max_batch, rows.size() - start)));
  }
}

TEST(RowTable, CountsLikeAPlainMap) {
  // From the default table to tiny ones whose hash keeps only a few bits,
  // so that growth runs through many sizes and rows share tags and long
  // probe runs.
  const struct {
    std::size_t slots;
    int hash_bits;
  } shapes[] = {{1024, 32}, {2, 32}, {2, 1}, {4, 3}, {64, 8}};
  const std::vector<std::string> rows = sample_rows();
  counts expected;
  for (const std::string& row : rows) {
    ++expected[row];
  }
  for (const auto& shape : shapes) {
    SCOPED_TRACE(testing::Message() << shape.slots << " slots, " << shape.hash_bits << " bits");
    row_table table(7, shape.slots, shape.hash_bits);
    const std::vector<std::string_view> views(rows.begin(), rows.end());
    const std::size_t half = views.size() / 2;
    add_in_batches(table, {views.begin(), views.begin() + static_cast<std::ptrdiff_t>(half)});
    for (std::size_t i = half; i < views.size(); ++i) {
      table.add(views[i]);
    }
    EXPECT_EQ(table.size(), expected.size());
    EXPECT_EQ(counts_of(table), expected);
  }
}

TEST(RowTable, AddsLargeCounts) {
  row_table table;
  table.add("", 5'000'000'000);
  table.add("", 1);
  EXPECT_EQ(counts_of(table), (counts{{"", 5'000'000'001}}));
}

TEST(RowTable, RejectsWhatItCannotHold) {
  const struct {
    std::size_t slots;
    int hash_bits;
  } shapes[] = {{0, 32}, {1, 32}, {3, 32}, {1536, 32}, {1024, 0}, {1024, 65}, {1024, -1}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(testing::Message() << shape.slots << " slots, " << shape.hash_bits << " bits");
    EXPECT_THROW(row_table(1, shape.slots, shape.hash_bits), std::invalid_argument);
  }
  row_table table;
  EXPECT_THROW(table.add("p", 0), std::invalid_argument);
  EXPECT_THROW(table.add("p", -1), std::invalid_argument);
  EXPECT_THROW(table.add(std::string(rowfreq::max_row_length + 1, 'p')), std::invalid_argument);
  const std::vector<std::string_view> too_many(row_table::max_batch + 1, "p");
  EXPECT_THROW(table.add_each(too_many), std::invalid_argument);
  EXPECT_EQ(table.size(), 0u);
}

// Rows of 96 bytes in a family that a hash of the form
// (rotl(h, 23) ^ word) * odd maps to one value whatever its seed: flipping
// bit 63 of word i and bit 22 of word i + 1, for any set of i.
std::vector<std::string> rotate_multiply_family() {
  std::vector<std::string> family;
  const std::string base(96, 'k');
  for (unsigned variant = 0; variant < 2048; ++variant) {
    std::string row = base;
    for (int i = 0; i < 11; ++i) {
      if (((variant >> i) & 1) != 0) {
        row[8 * i + 7] = static_cast<char>(row[8 * i + 7] ^ 0x80);
        row[8 * (i + 1) + 2] = static_cast<char>(row[8 * (i + 1) + 2] ^ 0x40);
      }
    }
    family.push_back(row);
  }
  return family;
}

// Nine rows, of 24 to 32 bytes, that a hash mixing the length only into a
// word of the row (state = secret ^ length, then xor with a word) maps to
// one value whatever its secret: `x`, then `y` with the length xored into
// its first byte, then L - 16 letters 'a', whose overlapping loads are
// alike for every L.
std::vector<std::string> length_family(const std::string& x, const std::string& y) {
  std::vector<std::string> family;
  for (std::size_t length = 24; length <= 32; ++length) {
    std::string word = y;
    word[0] = static_cast<char>(word[0] ^ length);
    family.push_back(x + word + std::string(length - 16, 'a'));
  }
  return family;
}

// Pairs of rows of L and L + 1 bytes, for L = 5, 9 and 13, that such a hash
// maps to one value: alike in their first load (4 or 8 bytes), and with
// last loads that differ by L ^ (L + 1) = 3, the difference of 'a' and 'b'.
std::vector<std::string> short_length_family() {
  std::vector<std::string> family;
  for (const std::size_t length : {5, 9, 13}) {
    const std::size_t load = length < 8 ? 4 : 8, prefix = length - load;
    for (char p = 'a'; p <= 'z'; p += 5) {
      for (char q = 'a'; q <= 'z'; q += 5) {
        const std::string head = std::string(prefix, p) + 'a' + std::string(load - 1 - prefix, 'b');
        family.push_back(head + std::string(prefix, q));
        family.push_back(head + 'b' + std::string(prefix, q));
      }
    }
  }
  return family;
}

TEST(RowTable, HashSpreadsCraftedFamilies) {
  const struct {
    const char* name;
    std::vector<std::string> rows;
  } families[] = {
      {"rotate-multiply, 2,048 rows of 96 bytes", rotate_multiply_family()},
      {"length in a word, 24 to 32 bytes", length_family("abcdefgh", "ijklmnop")},
      {"length in a word, other bytes", length_family("zzzzzzzz", "qwertyui")},
      {"length in a word, 5 to 14 bytes", short_length_family()},
  };
  for (const auto& family : families) {
    for (const std::uint64_t seed : {1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << family.name << ", seed " << seed);
      const row_table table(seed);
      // The top bits place a row in the slots, the low 24 its tag.
      std::set<std::uint64_t> hashes, top_bits, tags;
      for (const std::string& row : family.rows) {
        hashes.insert(table.hash(row));
        top_bits.insert(table.hash(row) >> 32);
        tags.insert(table.hash(row) & 0xFF'FFFF);
      }
      EXPECT_EQ(hashes.size(), family.rows.size());
      // Chance alone makes 24 or 32 bits repeat now and then among 2,048.
      EXPECT_GE(top_bits.size(), family.rows.size() - 8);
      EXPECT_GE(tags.size(), family.rows.size() - 8);
    }
  }
}

TEST(RowTable, TakesItsSecretFromItsSeed) {
  EXPECT_EQ(row_table(5).hash("same row"), row_table(5).hash("same row"));
  EXPECT_NE(row_table(5).hash("same row"), row_table(6).hash("same row"));
  const row_table first, second;
  EXPECT_NE(first.hash("same row"), second.hash("same row"));
}

TEST(RowTable, DrawsASeedWithoutEntropy) {
  const auto no_entropy = []() -> std::uint64_t { throw std::runtime_error("no entropy"); };
  const auto fixed = []() -> std::uint64_t { return 42; };
  EXPECT_EQ(rowfreq::draw_seed(fixed), 42u);
  EXPECT_NE(rowfreq::draw_seed(no_entropy), rowfreq::draw_seed(no_entropy));
}

TEST(FoldMultiply, PortableMatchesTheWideProduct) {
  // (2^64 - 1)^2 = 2^128 - 2^65 + 1: halves 2^64 - 2 and 1.
  EXPECT_EQ(rowfreq::fold_multiply_portable(~0ull, ~0ull), ~0ull);
  EXPECT_EQ(rowfreq::fold_multiply_portable(1ull << 63, 2), 1u);
  EXPECT_EQ(rowfreq::fold_multiply_portable(0, ~0ull), 0u);
  std::mt19937_64 random(11);
  for (int i = 0; i < 100'000; ++i) {
    const std::uint64_t a = random(), b = random() >> (i % 64);
    ASSERT_EQ(rowfreq::fold_multiply_portable(a, b), rowfreq::fold_multiply(a, b)) << a << " " << b;
  }
}

}  // namespace
