// A fixed-size latency histogram: exact below 64 ns, then 64 buckets per power of two (about
// 1.6 % resolution), so millions of samples cost no memory and merging is a sum.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace orv::bench {

class LatencyHistogram {
 public:
  void Record(std::uint64_t ns) {
    ++counts_[Bucket(ns)];
    ++total_;
    if (ns > max_) max_ = ns;
  }

  void Merge(const LatencyHistogram& other) {
    for (std::size_t i = 0; i < counts_.size(); ++i)
      counts_[i] += other.counts_[i];
    total_ += other.total_;
    if (other.max_ > max_) max_ = other.max_;
  }

  std::uint64_t Count() const { return total_; }
  std::uint64_t Max() const { return max_; }

  // The value below which the fraction q of the samples lie (middle of its bucket); 0 when
  // there are no samples.
  std::uint64_t Quantile(double q) const {
    if (total_ == 0) return 0;
    auto rank = static_cast<std::uint64_t>(q * static_cast<double>(total_));
    if (rank >= total_) rank = total_ - 1;
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      seen += counts_[i];
      if (seen > rank) {
        const std::uint64_t low = Low(i);
        const std::uint64_t high = Low(i + 1);
        const std::uint64_t middle = low + (high - low) / 2;
        return middle < max_ ? middle : max_;
      }
    }
    return max_;
  }

  static std::size_t Bucket(std::uint64_t ns) {
    if (ns < 64) return static_cast<std::size_t>(ns);
    const int exponent = 63 - std::countl_zero(ns);  // 6 or more
    return static_cast<std::size_t>((exponent - 5) * 64) +
           static_cast<std::size_t>((ns >> (exponent - 6)) & 63);
  }

  static std::uint64_t Low(std::size_t bucket) {
    if (bucket < 64) return bucket;
    const int exponent = static_cast<int>(bucket / 64) + 5;
    if (exponent >= 64) return ~std::uint64_t{0};
    return (std::uint64_t{1} << exponent) | (std::uint64_t{bucket % 64} << (exponent - 6));
  }

 private:
  std::array<std::uint64_t, 59 * 64> counts_{};
  std::uint64_t total_ = 0;
  std::uint64_t max_ = 0;
};

}  // namespace orv::bench
