#include "support/service/test_service_runner.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/process_info.h"

namespace qolv::test {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("qolv-svc-" + std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::filesystem::path TestServicePath() {
  const std::string self = platform::ExecutablePath();
  return std::filesystem::path(reinterpret_cast<const char8_t*>(self.c_str())).parent_path() /
         QOLV_TEST_SERVICE_FILE;
}

}  // namespace qolv::test
