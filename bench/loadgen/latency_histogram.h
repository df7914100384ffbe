#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qolv::bench {

// Latencies in nanoseconds, kept in buckets whose width grows with the value (64 per power of
// two above 128 ns), so that a run of any length takes the same small memory and a percentile
// is off by less than 1.6 %.
class LatencyHistogram {
 public:
  LatencyHistogram();

  void Record(uint64_t nanoseconds);
  uint64_t Count() const { return count_; }
  // The latency below which the fraction q (0 < q <= 1) of the recorded ones lie, in
  // microseconds; 0 when nothing was recorded.
  double PercentileUs(double q) const;

  static size_t BucketOf(uint64_t nanoseconds);
  // The smallest and largest value a bucket holds.
  static uint64_t BucketLow(size_t bucket);
  static uint64_t BucketHigh(size_t bucket);

 private:
  std::vector<uint64_t> buckets_;
  uint64_t count_ = 0;
  uint64_t min_ = UINT64_MAX;
  uint64_t max_ = 0;
};

}  // namespace qolv::bench
