// A program for the process-spawn tests: it reports what it was started with, writes as much as
// asked, waits, or ends with the code asked for.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/clock.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (mode == "args") {
    for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
    return 0;
  }
  if (mode == "env" && argc > 2) {
    const char* value = std::getenv(argv[2]);
    std::printf("%s\n", value != nullptr ? value : "(unset)");
    return 0;
  }
  if (mode == "cwd") {
    std::printf("%s\n", std::filesystem::current_path().string().c_str());
    return 0;
  }
  if (mode == "flood" && argc > 2) {
    // Far more than a pipe holds, on both streams, so a parent that does not read blocks us.
    const std::string block(1024, 'x');
    for (long i = 0, blocks = std::atol(argv[2]); i < blocks; ++i) {
      std::fwrite(block.data(), 1, block.size(), stdout);
      std::fwrite(block.data(), 1, block.size(), stderr);
    }
    return 0;
  }
  if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
  if (mode == "wait") {
    for (int i = 0; i < 6000; ++i) qolv::platform::SleepMs(10);
    return 0;
  }
  return 2;
}
