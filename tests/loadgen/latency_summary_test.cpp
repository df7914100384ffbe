#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "latency_histogram.h"
#include "run_summary.h"

namespace qolv::bench {
namespace {

TEST(LatencyHistogramTest, BucketsCoverEveryValueWithoutGaps) {
  for (uint64_t value :
       {0ull, 1ull, 127ull, 128ull, 129ull, 255ull, 256ull, 1000ull, 123456789ull, 1ull << 39}) {
    const size_t bucket = LatencyHistogram::BucketOf(value);
    EXPECT_LE(LatencyHistogram::BucketLow(bucket), value);
    EXPECT_GE(LatencyHistogram::BucketHigh(bucket), value);
    // The bucket is narrow enough for the promised precision.
    EXPECT_LE(LatencyHistogram::BucketHigh(bucket) - LatencyHistogram::BucketLow(bucket), value / 64 + 1)
        << value;
  }
  for (size_t bucket = 0; bucket < 2000; ++bucket) {
    EXPECT_EQ(LatencyHistogram::BucketHigh(bucket) + 1, LatencyHistogram::BucketLow(bucket + 1)) << bucket;
  }
}

TEST(LatencyHistogramTest, PercentilesAreCloseToTheExactOnes) {
  LatencyHistogram histogram;
  EXPECT_EQ(histogram.PercentileUs(0.5), 0);
  // 1 .. 100000 ns in a shuffled order: the q-th percentile is q * 100000 ns.
  std::vector<uint64_t> values(100000);
  for (size_t i = 0; i < values.size(); ++i) values[i] = i + 1;
  std::shuffle(values.begin(), values.end(), std::mt19937_64(7));
  for (uint64_t value : values) histogram.Record(value);
  EXPECT_EQ(histogram.Count(), 100000u);
  EXPECT_NEAR(histogram.PercentileUs(0.5), 50.0, 50.0 * 0.016);
  EXPECT_NEAR(histogram.PercentileUs(0.99), 99.0, 99.0 * 0.016);
  EXPECT_NEAR(histogram.PercentileUs(0.999), 99.9, 99.9 * 0.016);
  EXPECT_LE(histogram.PercentileUs(1.0), 100.0);

  // One slow answer among many fast ones shows at p99.9 only when it is more than 0.1 %.
  LatencyHistogram tail;
  for (int i = 0; i < 998; ++i) tail.Record(10000);
  tail.Record(5000000);
  tail.Record(5000000);
  EXPECT_NEAR(tail.PercentileUs(0.99), 10.0, 0.2);
  EXPECT_NEAR(tail.PercentileUs(0.999), 5000.0, 5000.0 * 0.016);
}

TEST(RunSummaryTest, PrintsOneLineOfKeyValuePairs) {
  RunSummary summary;
  summary.mode = "heartbeat";
  summary.connections = 64;
  summary.pipeline = 16;
  summary.sent = 1000;
  summary.answered = 998;
  summary.errors = 2;
  summary.seconds = 2;
  summary.p50Us = 12.34;
  summary.p99Us = 56.78;
  summary.p999Us = 90.12;
  summary.warmupAnswered = 5;
  EXPECT_EQ(
      FormatSummary(summary),
      "mode=heartbeat c=64 p=16 sent=1000 answered=998 errors=2 seconds=2.000 frames_per_s=499 p50_us=12.3 "
      "p99_us=56.8 p999_us=90.1 warmup_answered=5");
  summary.seconds = 0;  // nothing answered: no rate rather than a division by zero
  EXPECT_NE(FormatSummary(summary).find(" frames_per_s=0 "), std::string::npos);
}

}  // namespace
}  // namespace qolv::bench
