// Writes one of the benchmark inputs to standard output, the same bytes on
// every machine: a fixed seed, and no library distribution whose output
// could differ between standard libraries.
// Usage: make_input low|zipf|distinct|huge-group|long-lines
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
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

}  // namespace

int main(int argc, char** argv) {
  const std::string_view kind = argc > 1 ? argv[1] : "";
  if (kind == "low") {
    low_cardinality();
  } else if (kind == "zipf") {
    zipf_log();
  } else if (kind == "distinct") {
    all_distinct();
  } else if (kind == "huge-group") {
    huge_group();
  } else if (kind == "long-lines") {
    long_lines();
  } else {
    std::fputs("usage: make_input low|zipf|distinct|huge-group|long-lines\n", stderr);
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
