// Writes one of the benchmark inputs to standard output, the same bytes on
// every machine: a fixed seed, and no library distribution whose output
// could differ between standard libraries.
// Usage: make_input low|zipf|distinct|huge-group|long-lines|crafted|crafted-random|
//                   crafted-length|crafted-length-random|singletons
//        make_input distinct-many [ROWS]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

std::mt19937_64 generator(20261209);

// A uniform number in [0, bound).
std::uint64_t below(std::uint64_t bound) {
  return generator() % bound;  // the bias is far below anything measured here
}

void shuffle(std::vector<std::uint32_t>& values) {
  for (std::size_t i = values.size(); i > 1; --i) {
    std::swap(values[i - 1], values[below(i)]);
  }
}

// Draws ranks 0..n-1 with probability proportional to 1 / (rank + 1)^s.
class zipf_ranks {
 public:
  zipf_ranks(std::size_t n, double s) : cumulative_(n) {
    double sum = 0;
    for (std::size_t rank = 0; rank < n; ++rank) {
      sum += 1.0 / std::pow(static_cast<double>(rank + 1), s);
      cumulative_[rank] = sum;
    }
  }
  std::size_t draw() {
    const double target = static_cast<double>(generator() >> 11) * 0x1p-53 * cumulative_.back();
    return static_cast<std::size_t>(
        std::upper_bound(cumulative_.begin(), cumulative_.end(), target) - cumulative_.begin());
  }

 private:
  std::vector<double> cumulative_;
};

void put_line(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// (a) 10 million short rows over 1,000 distinct values.
void low_cardinality() {
  for (int i = 0; i < 10'000'000; ++i) {
    put_line("user" + std::to_string(below(1000)));
  }
}

// (b) A web-log-like file: 5 million requests whose paths follow a Zipf
// law over 2 million pages.
void zipf_log() {
  const char* methods[] = {"GET", "GET", "GET", "POST", "HEAD"};
  zipf_ranks ranks(2'000'000, 1.0);
  for (int i = 0; i < 5'000'000; ++i) {
    const std::size_t page = ranks.draw();
    put_line(std::string(methods[page % 5]) + " /shop/item/" +
             std::to_string(page * 7919 % 2'000'003) + ".html " + (page % 13 == 0 ? "404" : "200"));
  }
}

// (c) 4 million rows, every one distinct, in shuffled order.
void all_distinct() {
  std::vector<std::uint32_t> order(4'000'000);
  std::iota(order.begin(), order.end(), 0);
  shuffle(order);
  for (std::uint32_t n : order) {
    put_line("session-" + std::to_string(n * 2654435761u) + "-" + std::to_string(n));
  }
}

// (d) 600,000 rows read once each (one group, listed) and 3,000 rows read
// 1,001 to 4,000 times: one huge listed group and thousands of counts.
void huge_group() {
  std::vector<std::uint32_t> rows;
  for (std::uint32_t n = 0; n < 600'000; ++n) {
    rows.push_back(n);
  }
  for (std::uint32_t key = 0; key < 3000; ++key) {
    rows.insert(rows.end(), 1001 + key, 1'000'000 + key);
  }
  shuffle(rows);
  for (std::uint32_t n : rows) {
    put_line((n < 1'000'000 ? "once/" : "often/") + std::to_string(n));
  }
}

// (e) 2 million lines of 100 to 400 characters over 50,000 keys: most lines
// are longer than a row. The tail after the key depends on the key only, so
// every tool sees the same distinct lines.
void long_lines() {
  zipf_ranks ranks(50'000, 0.8);
  for (int i = 0; i < 2'000'000; ++i) {
    const std::size_t key = ranks.draw();
    std::string line = "/var/lib/app/" + std::to_string(key) + "/";
    const std::size_t length = 100 + key * 7 % 301;
    while (line.size() < length) {
      line += static_cast<char>('a' + (line.size() * 31 + key) % 26);
    }
    put_line(line);
  }
}

// (j) 1,000,000 rows of 7 bytes read once each, one listed group of a
// million, and one row read 1,100,000 times, shuffled: most of the report's
// work is listing.
void singletons() {
  std::vector<std::uint32_t> rows;
  for (std::uint32_t n = 0; n < 1'000'000; ++n) {
    rows.push_back(n);
  }
  rows.insert(rows.end(), 1'100'000, 1'000'000);
  shuffle(rows);
  char row[16];
  for (const std::uint32_t n : rows) {
    std::snprintf(row, sizeof row, "s%06u", n);
    put_line(n < 1'000'000 ? row : "common");
  }
}

// Rows of crafted_row_length bytes over lower-case letters, built as classes
// of variants of a few random base rows. A variant flips pairs of bytes
// chosen by a mask of flip_pairs bits: pair i is bit 63 of little-endian
// 8-byte word i (0x80 in its byte 7) and bit 22 of word i + 1 (0x40 in its
// byte 2). A word-at-a-time hash of the form (rotl(h, 23) ^ word) * odd
// gives every variant of a base the same value whatever its seed, so these
// rows probe how the table copes with collisions no seed can break up.
constexpr std::size_t crafted_row_length = 96;
constexpr std::size_t flip_pairs = 11;
constexpr std::uint32_t crafted_bases = 150;
constexpr std::uint32_t variants_per_base = 1u << flip_pairs;  // 150 * 2,048 = 307,200 rows

using flip_positions = std::array<std::size_t, 2 * flip_pairs>;

flip_positions crafted_flips() {
  flip_positions positions{};
  for (std::size_t pair = 0; pair < flip_pairs; ++pair) {
    positions[2 * pair] = 8 * pair + 7;
    positions[2 * pair + 1] = 8 * (pair + 1) + 2;
  }
  return positions;
}

std::string random_letters(std::size_t length) {
  std::string row(length, 'a');
  for (char& c : row) {
    c = static_cast<char>('a' + below(26));
  }
  return row;
}

// `base` with the bytes at positions[i] flipped for every bit i set in
// `mask`: 0x80 at even places of `positions`, 0x40 at odd ones. Neither flip
// can turn a lower-case letter into a NUL or a newline.
std::string flipped(std::string base, const flip_positions& positions, std::uint32_t mask) {
  for (std::size_t i = 0; i < positions.size(); ++i) {
    if ((mask >> i & 1) != 0) {
      base[positions[i]] = static_cast<char>(base[positions[i]] ^ (i % 2 == 0 ? 0x80 : 0x40));
    }
  }
  return base;
}

// The pair mask of the crafted rows, applied to both bytes of each pair.
std::uint32_t both_bytes_of_pairs(std::uint32_t pairs) {
  std::uint32_t mask = 0;
  for (std::size_t pair = 0; pair < flip_pairs; ++pair) {
    if ((pairs >> pair & 1) != 0) {
      mask |= 3u << (2 * pair);
    }
  }
  return mask;
}

// `count` distinct random masks over the 2 * flip_pairs flip positions.
std::vector<std::uint32_t> random_masks(std::uint32_t count) {
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::uint32_t> masks;
  while (masks.size() < count) {
    const auto mask = static_cast<std::uint32_t>(below(std::uint64_t{1} << (2 * flip_pairs)));
    if (seen.insert(mask).second) {
      masks.push_back(mask);
    }
  }
  return masks;
}

// Writes the rows in shuffled order.
void put_shuffled(const std::vector<std::string>& rows) {
  std::vector<std::uint32_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0);
  shuffle(order);
  for (std::uint32_t n : order) {
    put_line(rows[n]);
  }
}

std::vector<std::string> crafted_base_rows() {
  std::vector<std::string> bases;
  for (std::uint32_t base = 0; base < crafted_bases; ++base) {
    bases.push_back(random_letters(crafted_row_length));
  }
  return bases;
}

// (f) 307,200 distinct rows of 96 bytes in 150 classes of 2,048 whose
// members collide under a word-at-a-time hash for every seed.
void crafted() {
  const flip_positions positions = crafted_flips();
  std::vector<std::string> rows;
  for (const std::string& base : crafted_base_rows()) {
    for (std::uint32_t pairs = 0; pairs < variants_per_base; ++pairs) {
      rows.push_back(flipped(base, positions, both_bytes_of_pairs(pairs)));
    }
  }
  put_shuffled(rows);
}

// (g) Rows of the same shape as (f): the same bases, the same bytes flipped,
// but each byte at random, so that they collide no more than random rows.
void crafted_random() {
  const flip_positions positions = crafted_flips();
  std::vector<std::string> rows;
  for (const std::string& base : crafted_base_rows()) {
    for (std::uint32_t mask : random_masks(variants_per_base)) {
      rows.push_back(flipped(base, positions, mask));
    }
  }
  put_shuffled(rows);
}

// Rows of 24 to 32 bytes in classes of nine that a hash mixing the row's
// length only into one of its words (state = secret ^ length, then xored
// with a word) maps to one value whatever its secret: random letters x and
// y, then for each length L the row x, y with L xored into its first byte,
// and L - 16 letters 'a', whose overlapping loads are alike for every L.
// Xoring 24 to 32 into a lower-case letter never gives a NUL or a newline.
constexpr std::uint32_t length_classes = 30'000;  // 270,000 rows

std::string with_length_in_first_byte(std::string word, std::size_t length) {
  word[0] = static_cast<char>(word[0] ^ length);
  return word;
}

std::vector<std::string> length_class_heads() {
  std::vector<std::string> heads;
  for (std::uint32_t i = 0; i < length_classes; ++i) {
    heads.push_back(random_letters(8));
  }
  return heads;
}

// (h) 270,000 distinct rows in 30,000 such classes of nine.
void crafted_length() {
  std::vector<std::string> rows;
  for (const std::string& x : length_class_heads()) {
    const std::string y = random_letters(8);
    for (std::size_t length = 24; length <= 32; ++length) {
      rows.push_back(x + with_length_in_first_byte(y, length) + std::string(length - 16, 'a'));
    }
  }
  put_shuffled(rows);
}

// (i) Rows of the same shape as (h): the same first words and lengths, the
// second word drawn at random for each row.
void crafted_length_random() {
  std::vector<std::string> rows;
  for (const std::string& x : length_class_heads()) {
    for (std::size_t length = 24; length <= 32; ++length) {
      rows.push_back(x + random_letters(8) + std::string(length - 16, 'a'));
    }
  }
  put_shuffled(rows);
}

// A bijection of 64-bit numbers that scatters consecutive ones (the
// finalizer of splitmix64: each step can be undone).
std::uint64_t scatter(std::uint64_t n) {
  n = (n ^ (n >> 30)) * 0xbf58476d1ce4e5b9u;
  n = (n ^ (n >> 27)) * 0x94d049bb133111ebu;
  return n ^ (n >> 31);
}

// `rows` distinct rows of about 30 bytes, in no order, written as they are
// made so that billions of bytes need no memory: distinct because scatter
// maps distinct numbers to distinct numbers.
void distinct_many(std::uint64_t rows) {
  for (std::uint64_t n = 0; n < rows; ++n) {
    put_line("distinct-" + std::to_string(scatter(n)));
  }
}

// The inputs by name, in the order the benchmark lists them.
constexpr std::pair<std::string_view, void (*)()> kinds[] = {
    {"low", low_cardinality},
    {"zipf", zipf_log},
    {"distinct", all_distinct},
    {"huge-group", huge_group},
    {"long-lines", long_lines},
    {"crafted", crafted},
    {"crafted-random", crafted_random},
    {"crafted-length", crafted_length},
    {"crafted-length-random", crafted_length_random},
    {"singletons", singletons},
};

int usage() {
  std::string names;
  for (const auto& [name, make] : kinds) {
    names += names.empty() ? "" : "|";
    names += name;
  }
  std::fprintf(stderr, "usage: make_input %s\n       make_input distinct-many [ROWS]\n",
               names.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view kind = argc > 1 ? argv[1] : "";
  const auto* found = std::find_if(std::begin(kinds), std::end(kinds),
                                   [kind](const auto& k) { return k.first == kind; });
  if (found != std::end(kinds)) {
    found->second();
  } else if (kind == "distinct-many") {
    distinct_many(argc > 2 ? std::stoull(argv[2]) : 100'000'000);
  } else {
    return usage();
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
