#include "row_tally/row_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

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
    row_table table(shape.slots, shape.hash_bits);
    std::vector<std::string_view> views(rows.begin(), rows.end());
    table.add_each(std::span(views).first(views.size() / 2));
    for (std::size_t i = views.size() / 2; i < views.size(); ++i) {
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

TEST(RowTable, HashSpreadsACraftedFamily) {
  const row_table table;
  std::set<std::uint64_t> hashes, tags;
  for (const std::string& row : rotate_multiply_family()) {
    hashes.insert(table.hash(row));
    tags.insert(table.hash(row) >> 32);
  }
  EXPECT_EQ(hashes.size(), 2048u);
  // Chance alone makes a tag repeat now and then among 2,048.
  EXPECT_GE(tags.size(), 2040u);
}

TEST(RowTable, DrawsItsSecretWhenMade) {
  const row_table first, second;
  EXPECT_NE(first.hash("same row"), second.hash("same row"));
}

}  // namespace
