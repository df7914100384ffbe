#include "minidump_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace qolv::test {

bool MinidumpFile::Load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (bytes_.size() < 32) {
    why_ = "shorter than a header: " + std::to_string(bytes_.size()) + " bytes";
    return false;
  }
  if (std::memcmp(bytes_.data(), "MDMP", 4) != 0) {
    why_ = "no MDMP signature";
    return false;
  }
  const uint64_t directoryEnd = uint64_t{Read32(12)} + uint64_t{Read32(8)} * 12;
  if (directoryEnd > bytes_.size()) {
    why_ = "stream directory beyond the end of the file";
    return false;
  }
  for (uint32_t i = 0; i < Read32(8); ++i) {
    const uint64_t entry = Read32(12) + uint64_t{i} * 12;
    if (uint64_t{Read32(entry + 8)} + Read32(entry + 4) > bytes_.size()) {
      why_ = "stream " + std::to_string(Read32(entry)) + " beyond the end of the file";
      return false;
    }
  }
  return true;
}

// Reads past the end give 0, so a damaged file fails the checks instead of the test program.
uint32_t MinidumpFile::Read32(uint64_t at) const {
  uint32_t value = 0;
  if (at + 4 <= bytes_.size()) std::memcpy(&value, bytes_.data() + at, 4);
  return value;
}

uint64_t MinidumpFile::Read64(uint64_t at) const {
  uint64_t value = 0;
  if (at + 8 <= bytes_.size()) std::memcpy(&value, bytes_.data() + at, 8);
  return value;
}

uint16_t MinidumpFile::Read16(uint64_t at) const {
  uint16_t value = 0;
  if (at + 2 <= bytes_.size()) std::memcpy(&value, bytes_.data() + at, 2);
  return value;
}

std::optional<MinidumpFile::Location> MinidumpFile::Find(uint32_t type) const {
  for (uint32_t i = 0; i < Read32(8); ++i) {
    const uint64_t entry = Read32(12) + uint64_t{i} * 12;
    if (Read32(entry) == type) return Location{Read32(entry + 4), Read32(entry + 8)};
  }
  return std::nullopt;
}

std::optional<uint16_t> MinidumpFile::ProcessorArchitecture() const {
  const auto info = Find(7);
  if (!info) return std::nullopt;
  return Read16(info->rva);
}

std::optional<uint32_t> MinidumpFile::PlatformId() const {
  const auto info = Find(7);
  if (!info) return std::nullopt;
  return Read32(info->rva + 20);
}

std::optional<MinidumpFile::Exception> MinidumpFile::ExceptionRecord() const {
  const auto stream = Find(6);
  if (!stream || stream->size < 168) return std::nullopt;
  Exception e;
  e.threadId = Read32(stream->rva);
  e.code = Read32(stream->rva + 8);
  e.address = Read64(stream->rva + 8 + 16);
  e.contextRva = Read32(stream->rva + 8 + 152 + 4);
  return e;
}

std::vector<MinidumpFile::Thread> MinidumpFile::Threads() const {
  std::vector<Thread> threads;
  const auto list = Find(3);
  if (!list) return threads;
  const uint32_t count = Read32(list->rva);
  for (uint32_t i = 0; i < count && list->rva + 4 + uint64_t{i + 1} * 48 <= bytes_.size(); ++i) {
    const uint64_t at = list->rva + 4 + uint64_t{i} * 48;
    Thread t;
    t.id = Read32(at);
    t.stackStart = Read64(at + 24);
    t.stackSize = Read32(at + 32);
    t.contextSize = Read32(at + 40);
    t.contextRva = Read32(at + 44);
    threads.push_back(t);
  }
  return threads;
}

std::string MinidumpFile::ReadString(uint32_t rva) const {
  std::u16string wide;
  const uint32_t length = Read32(rva);
  for (uint32_t i = 0; i + 1 < length; i += 2) wide.push_back(static_cast<char16_t>(Read16(rva + 4 + i)));
  std::string text;
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    }
    if (c < 0x80) {
      text.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      text += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      text += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
               static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      text += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
               static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return text;
}

std::vector<MinidumpFile::Module> MinidumpFile::Modules() const {
  std::vector<Module> modules;
  const auto list = Find(4);
  if (!list) return modules;
  const uint32_t count = Read32(list->rva);
  for (uint32_t i = 0; i < count && list->rva + 4 + uint64_t{i + 1} * 108 <= bytes_.size(); ++i) {
    const uint64_t at = list->rva + 4 + uint64_t{i} * 108;
    Module m;
    m.base = Read64(at);
    m.size = Read32(at + 8);
    m.name = ReadString(Read32(at + 20));
    m.cvSize = Read32(at + 76);
    if (m.cvSize >= 4) m.cvSignature = Read32(Read32(at + 80));
    modules.push_back(m);
  }
  return modules;
}

std::string MinidumpFile::Text(uint32_t type) const {
  const auto stream = Find(type);
  if (!stream) return {};
  return std::string(reinterpret_cast<const char*>(bytes_.data()) + stream->rva, stream->size);
}

}  // namespace qolv::test
