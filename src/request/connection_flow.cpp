#include "request/connection_flow.h"

#include <utility>

#include "request/client_ledger.h"

namespace qolv {

WorkTicket::WorkTicket(std::shared_ptr<ConnectionFlow> flow, int64_t bytes)
    : flow_(std::move(flow)), bytes_(bytes) {
  if (flow_) flow_->TaskBegun(bytes_);
}

WorkTicket::WorkTicket(WorkTicket&& other) noexcept
    : flow_(std::move(other.flow_)), bytes_(std::exchange(other.bytes_, 0)) {}

WorkTicket& WorkTicket::operator=(WorkTicket&& other) noexcept {
  if (this != &other) {
    Release();
    flow_ = std::move(other.flow_);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

void WorkTicket::Release() {
  if (!flow_) return;
  flow_->TaskEnded(bytes_);
  flow_.reset();
  bytes_ = 0;
}

ConnectionFlow::ConnectionFlow(uint32_t connectionId, net::ITcpServer* server, ClientLedger& ledger)
    : id_(connectionId), server_(server), ledger_(ledger) {}

bool ConnectionFlow::OverHighMark() const {
  if (tasks_ >= kTaskHigh || taskBytes_ >= kTaskBytesHigh || unsent_ >= kUnsentHigh) return true;
  return HasWork() && ledger_.UnderPressure();
}

bool ConnectionFlow::BelowLowMark() const {
  if (tasks_ > kTaskLow || taskBytes_ > kTaskBytesLow || unsent_ > kUnsentLow) return false;
  return !(HasWork() && ledger_.UnderPressure());
}

bool ConnectionFlow::MayDeliver() {
  std::lock_guard<platform::SlimLock> guard(lock_);
  if (closed_ || condemned_) return false;
  if (!OverHighMark()) return true;
  // A pause the engine refuses belongs to a connection that is closing already.
  if (!paused_) paused_ = server_->SetReceivePaused(id_, true);
  return false;
}

void ConnectionFlow::ResumeIfDrained() {
  if (!paused_ || closed_ || condemned_ || !BelowLowMark()) return;
  paused_ = false;
  server_->SetReceivePaused(id_, false);
}

void ConnectionFlow::SetHeld(int32_t bytes, bool incomplete) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  if (closed_ || condemned_) return;
  ledger_.AddReceived(bytes - held_);
  held_ = bytes;
  incomplete_ = incomplete && bytes > 0;
}

int64_t ConnectionFlow::IncompleteBytes() const {
  std::lock_guard<platform::SlimLock> guard(lock_);
  return incomplete_ && !condemned_ && !closed_ ? held_ : 0;
}

void ConnectionFlow::TaskBegun(int64_t bytes) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  ++tasks_;
  taskBytes_ += bytes;
  if (!closed_) ledger_.AddTasks(bytes);
}

void ConnectionFlow::TaskEnded(int64_t bytes) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  --tasks_;
  taskBytes_ -= bytes;
  if (closed_) return;
  ledger_.AddTasks(-bytes);
  ResumeIfDrained();
}

void ConnectionFlow::AnswerQueued(int32_t bytes) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  if (closed_) return;
  unsent_ += bytes;
  ledger_.AddUnsent(bytes);
}

void ConnectionFlow::AnswerDone(int32_t bytes) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  if (closed_) return;
  unsent_ -= bytes;
  ledger_.AddUnsent(-bytes);
  ResumeIfDrained();
}

bool ConnectionFlow::Condemn(bool announce) {
  std::lock_guard<platform::SlimLock> guard(lock_);
  if (closed_ || condemned_) return false;
  condemned_ = true;
  refused_ = !announce;  // a caller inside the receive event refuses it and logs there
  ledger_.AddReceived(-held_);
  held_ = 0;
  if (announce) {
    // A pause and a resume make the engine announce the held bytes again; the connection's
    // receive event then fails it, whether or not the client ever sends another byte.
    if (!paused_) server_->SetReceivePaused(id_, true);
    paused_ = false;
    server_->SetReceivePaused(id_, false);
  }
  return true;
}

bool ConnectionFlow::Condemned() const {
  std::lock_guard<platform::SlimLock> guard(lock_);
  return condemned_;
}

bool ConnectionFlow::FirstRefusal() {
  std::lock_guard<platform::SlimLock> guard(lock_);
  return !std::exchange(refused_, true);
}

void ConnectionFlow::Close() {
  std::lock_guard<platform::SlimLock> guard(lock_);
  if (closed_) return;
  closed_ = true;
  ledger_.AddReceived(-held_);
  ledger_.AddTasks(-taskBytes_);
  ledger_.AddUnsent(-unsent_);
  held_ = 0;
  unsent_ = 0;
}

int32_t ConnectionFlow::Tasks() const {
  std::lock_guard<platform::SlimLock> guard(lock_);
  return tasks_;
}

int64_t ConnectionFlow::Unsent() const {
  std::lock_guard<platform::SlimLock> guard(lock_);
  return unsent_;
}

bool ConnectionFlow::Paused() const {
  std::lock_guard<platform::SlimLock> guard(lock_);
  return paused_;
}

}  // namespace qolv
