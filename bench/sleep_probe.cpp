// The real length of the 1 ms sleep between the task workers' polls on this machine, with the
// finest timer period the service asks for. Prints one key=value line.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"

int main(int argc, char** argv) {
  const long requested = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 500;
  const int samples = requested >= 10 && requested <= 100000 ? static_cast<int>(requested) : 500;
  const uint32_t period = qolv::platform::BeginFinestTimerPeriod();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < samples; ++i) qolv::platform::SleepMs(1);
  const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
  qolv::platform::EndTimerPeriod(period);
  const double meanMs = spent.count() / samples;
  std::printf("sleep_samples=%d sleep_mean_ms=%.4f\n", samples, meanMs);
  return 0;
}
