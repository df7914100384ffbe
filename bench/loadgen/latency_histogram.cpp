#include "latency_histogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qolv::bench {
namespace {

constexpr uint64_t kLinear = 128;                       // values below this have a bucket each
constexpr uint64_t kPerOctave = 64;                     // buckets per power of two above
constexpr uint64_t kLargest = (uint64_t{1} << 40) - 1;  // about 18 minutes

}  // namespace

LatencyHistogram::LatencyHistogram() : buckets_(BucketOf(kLargest) + 1, 0) {}

size_t LatencyHistogram::BucketOf(uint64_t nanoseconds) {
  const uint64_t value = std::min(nanoseconds, kLargest);
  if (value < kLinear) return static_cast<size_t>(value);
  const int shift = std::bit_width(value) - 7;  // keeps the top 7 bits: 64..127
  const uint64_t top = value >> shift;
  return static_cast<size_t>(kLinear + (shift - 1) * kPerOctave + (top - kPerOctave));
}

uint64_t LatencyHistogram::BucketLow(size_t bucket) {
  if (bucket < kLinear) return bucket;
  const uint64_t k = bucket - kLinear;
  const int shift = static_cast<int>(k / kPerOctave) + 1;
  return (k % kPerOctave + kPerOctave) << shift;
}

uint64_t LatencyHistogram::BucketHigh(size_t bucket) {
  if (bucket < kLinear) return bucket;
  const int shift = static_cast<int>((bucket - kLinear) / kPerOctave) + 1;
  return BucketLow(bucket) + (uint64_t{1} << shift) - 1;
}

void LatencyHistogram::Record(uint64_t nanoseconds) {
  ++buckets_[BucketOf(nanoseconds)];
  ++count_;
  min_ = std::min(min_, nanoseconds);
  max_ = std::max(max_, nanoseconds);
}

double LatencyHistogram::PercentileUs(double q) const {
  if (count_ == 0) return 0;
  const uint64_t rank =
      std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(q * static_cast<double>(count_))));
  uint64_t seen = 0;
  for (size_t bucket = 0; bucket < buckets_.size(); ++bucket) {
    seen += buckets_[bucket];
    if (seen >= rank) {
      // The middle of the bucket, kept within what was actually recorded.
      const uint64_t middle = BucketLow(bucket) + (BucketHigh(bucket) - BucketLow(bucket)) / 2;
      return static_cast<double>(std::clamp(middle, min_, max_)) / 1000.0;
    }
  }
  return static_cast<double>(max_) / 1000.0;
}

}  // namespace qolv::bench
