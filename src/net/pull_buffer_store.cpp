#include "net/pull_buffer_store.h"

#include "net/server_properties.h"
#include "platform/clock.h"

namespace qolv::net {

CPullBufferStore::CPullBufferStore() : blocks_(1024, 1024, 4096) {}

// Unlike Clear, it starts no new heap, which could fail: the members release the heaps.
CPullBufferStore::~CPullBufferStore() {
  DestroyLiveBuffers();
  recycler_.DestroyResting();
}

void CPullBufferStore::Prepare(const CServerProperties& properties) {
  maxConnections_ = properties.GetMaxConnections();
  poolSize_ = properties.GetConnectionPoolSize();
  hold_ = properties.GetConnectionPoolHold();
  blocks_.Prepare(properties.GetBufferSize(), properties.GetBlockPoolSize(), properties.GetBlockPoolHold());
  cache_.Reset(maxConnections_);
  recycler_.Prepare(poolSize_, properties.GetReuseDelay());
}

uint32_t CPullBufferStore::KeyOf(uint32_t connectionId) const {
  if (maxConnections_ == 0) return 0;  // an unprepared store has no keys
  const uint32_t key = connectionId % maxConnections_;
  return key == 0 ? maxConnections_ : key;
}

CPullBuffer* CPullBufferStore::ObtainBuffer(uint32_t connectionId) {
  CPullBuffer* buffer = recycler_.TakeRested();
  if (buffer != nullptr) {
    buffer->connectionId.store(connectionId, std::memory_order_release);
  } else {
    buffer = CPullBuffer::Create(arena_, connectionId, blocks_);
  }
  cache_.Set(KeyOf(connectionId), buffer);
  return buffer;
}

CPullBuffer* CPullBufferStore::FindBuffer(uint32_t connectionId) const {
  if (connectionId == 0) return nullptr;
  CPullBuffer* buffer = cache_.Get(KeyOf(connectionId));
  // Every id of one table slot shares a cache key; a retired id must not reach the buffer of
  // the connection that now holds the slot.
  if (buffer == nullptr || buffer->connectionId.load(std::memory_order_acquire) != connectionId)
    return nullptr;
  return buffer;
}

void CPullBufferStore::RecycleBuffer(CPullBuffer* buffer) {
  const uint32_t connectionId = buffer->connectionId.load(std::memory_order_acquire);
  if (connectionId == 0) return;
  cache_.Set(KeyOf(connectionId), nullptr);
  if (buffer->Release(platform::TickCount())) recycler_.Retire(buffer);
}

void CPullBufferStore::Clear() {
  DestroyLiveBuffers();
  cache_.Reset(0);
  recycler_.DestroyAll();
  blocks_.Clear();
  arena_.Reset();
}

void CPullBufferStore::DestroyLiveBuffers() noexcept {
  // No other thread works on the store now. Every key is looked at rather than a snapshot of the
  // key set, which would allocate.
  for (uint32_t key = 1; key <= maxConnections_; ++key) {
    if (CPullBuffer* live = cache_.Get(key)) CPullBuffer::Destroy(live);
  }
}

}  // namespace qolv::net
