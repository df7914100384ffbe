#include "platform/posix/completion/socket_table.h"

#include <atomic>

#include "platform/error_codes.h"
#include "platform/system_error.h"

namespace qolv::platform::posix {
namespace {

// Entries live in chunks that are created on first use and never freed, so a lookup needs no
// lock and an entry's address stays valid for the life of the process.
constexpr int kChunkBits = 12;
constexpr int kChunkSize = 1 << kChunkBits;
constexpr int kChunkCount = 4096;

std::atomic<SocketEntry*> g_chunks[kChunkCount];

SocketEntry* Obtain(int fd) {
  if (fd < 0 || (fd >> kChunkBits) >= kChunkCount) return nullptr;
  std::atomic<SocketEntry*>& slot = g_chunks[fd >> kChunkBits];
  SocketEntry* chunk = slot.load(std::memory_order_acquire);
  if (chunk == nullptr) {
    auto* fresh = new SocketEntry[kChunkSize];
    if (slot.compare_exchange_strong(chunk, fresh, std::memory_order_acq_rel)) {
      chunk = fresh;
    } else {
      delete[] fresh;
    }
  }
  return &chunk[fd & (kChunkSize - 1)];
}

}  // namespace

SocketEntry* SocketTable::Find(int fd) {
  if (fd < 0 || (fd >> kChunkBits) >= kChunkCount) return nullptr;
  SocketEntry* chunk = g_chunks[fd >> kChunkBits].load(std::memory_order_acquire);
  return chunk == nullptr ? nullptr : &chunk[fd & (kChunkSize - 1)];
}

SocketHandle SocketTable::Register(int fd) {
  SocketEntry* entry = Obtain(fd);
  if (entry == nullptr) {
    SetSystemError(err::kWsaTooManySockets);
    return kInvalidSocket;
  }
  std::lock_guard<std::mutex> lock(entry->mutex);
  entry->open = true;
  entry->port = nullptr;
  entry->key = 0;
  entry->mayRead = true;
  entry->readEnded = false;
  return MakeHandle(fd, entry->generation);
}

LockedSocket::LockedSocket(SocketHandle handle) {
  if (handle == kInvalidSocket) return;
  const int fd = HandleDescriptor(handle);
  SocketEntry* entry = SocketTable::Find(fd);
  if (entry == nullptr) return;
  std::unique_lock<std::mutex> lock(entry->mutex);
  if (!entry->open || entry->generation != HandleGeneration(handle)) return;
  lock_ = std::move(lock);
  entry_ = entry;
  fd_ = fd;
}

}  // namespace qolv::platform::posix
