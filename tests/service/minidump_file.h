#pragma once
// Reads the parts of a minidump file that the crash tests check, independently of the writer.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qolv::test {

class MinidumpFile {
 public:
  struct Thread {
    uint32_t id = 0;
    uint64_t stackStart = 0;
    uint32_t stackSize = 0;
    uint32_t contextRva = 0;
    uint32_t contextSize = 0;
  };
  struct Module {
    uint64_t base = 0;
    uint32_t size = 0;
    std::string name;  // UTF-8, from the file's UTF-16
    uint32_t cvSignature = 0;
    uint32_t cvSize = 0;
  };
  struct Exception {
    uint32_t threadId = 0;
    uint32_t code = 0;
    uint64_t address = 0;
    uint32_t contextRva = 0;
  };

  // Reads and checks the header; false (with why() set) when the file is no minidump.
  bool Load(const std::filesystem::path& path);
  const std::string& why() const { return why_; }

  uint32_t version() const { return Read32(4); }
  bool HasStream(uint32_t type) const { return Find(type).has_value(); }
  std::optional<uint16_t> ProcessorArchitecture() const;
  std::optional<uint32_t> PlatformId() const;
  std::optional<Exception> ExceptionRecord() const;
  std::vector<Thread> Threads() const;
  std::vector<Module> Modules() const;
  // The stack and instruction pointers of an AMD64 register record.
  uint64_t ContextRsp(uint32_t contextRva) const { return Read64(contextRva + 0x98); }
  uint64_t ContextRip(uint32_t contextRva) const { return Read64(contextRva + 0xF8); }
  // The text of a text stream (the Linux maps and status streams).
  std::string Text(uint32_t type) const;

 private:
  struct Location {
    uint32_t size;
    uint32_t rva;
  };
  std::optional<Location> Find(uint32_t type) const;
  uint32_t Read32(uint64_t at) const;
  uint64_t Read64(uint64_t at) const;
  uint16_t Read16(uint64_t at) const;
  std::string ReadString(uint32_t rva) const;

  std::vector<unsigned char> bytes_;
  std::string why_;
};

}  // namespace qolv::test
