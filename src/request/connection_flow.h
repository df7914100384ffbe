#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

#include "net/server_interfaces.h"
#include "platform/slim_lock.h"

namespace qolv {

class ClientLedger;
class ConnectionFlow;

// A delivered frame's claim on its connection's outstanding work: the connection counts the
// frame until the ticket is destroyed, which the request handling does once the frame's task has
// run and its answer is queued.
class WorkTicket {
 public:
  WorkTicket() = default;
  // Counts bytes of work for flow at once.
  WorkTicket(std::shared_ptr<ConnectionFlow> flow, int64_t bytes);
  WorkTicket(WorkTicket&& other) noexcept;
  WorkTicket& operator=(WorkTicket&& other) noexcept;
  WorkTicket(const WorkTicket&) = delete;
  WorkTicket& operator=(const WorkTicket&) = delete;
  ~WorkTicket() { Release(); }

  explicit operator bool() const { return flow_ != nullptr; }
  void Release();

 private:
  std::shared_ptr<ConnectionFlow> flow_;
  int64_t bytes_ = 0;
};

// One connection's outstanding work (its frames' tasks, queued or running, and its answer bytes
// not yet sent) and the pause of its reading that keeps that work bounded: reading stops above a
// high mark and resumes only below a lower one, so a busy connection does not flap. Every
// decision is taken under one small lock, after the counts it reads were changed, so a pause
// never misses the drain that should end it and a resume never follows the close.
class ConnectionFlow {
 public:
  // Work that pauses a connection's reading, and the level below which it reads again.
  static constexpr int32_t kTaskHigh = 128;
  static constexpr int32_t kTaskLow = 32;
  static constexpr int64_t kTaskBytesHigh = 1024 * 1024;
  static constexpr int64_t kTaskBytesLow = 256 * 1024;
  static constexpr int64_t kUnsentHigh = 64 * 1024;
  static constexpr int64_t kUnsentLow = 16 * 1024;

  // server is the one that raised the connection's events; ledger keeps the process's totals.
  // Both must stay usable until Close.
  ConnectionFlow(uint32_t connectionId, net::ITcpServer* server, ClientLedger& ledger);
  ConnectionFlow(const ConnectionFlow&) = delete;
  ConnectionFlow& operator=(const ConnectionFlow&) = delete;

  uint32_t Id() const { return id_; }

  // Receive side, called under the connection's receive lock. Before each frame: true when the
  // frame may be delivered; otherwise reading is paused and the frame stays in the engine.
  bool MayDeliver();
  // The bytes the engine holds for the connection after cutting; incomplete when they wait
  // for the rest of a frame rather than for the work to drain.
  void SetHeld(int32_t bytes, bool incomplete);
  // Bytes of an unfinished frame, 0 when there is none or the connection is condemned.
  int64_t IncompleteBytes() const;

  // Answer bytes accepted for sending, given back when the send failed, reported sent.
  void AnswerQueued(int32_t bytes);
  void AnswerDropped(int32_t bytes) { AnswerDone(bytes); }
  void AnswerSent(int32_t bytes) { AnswerDone(bytes); }

  // Marks the connection to be closed for the process's memory budget and takes its bytes out
  // of the totals. announce: have the engine raise its receive event again, which then fails
  // it; false when the caller is inside that event already. False when it was marked before
  // or is closed.
  bool Condemn(bool announce);
  bool Condemned() const;
  // For a condemned connection's receive event: true only the first time, when the refusal is
  // logged (the engine may announce the connection once more before its close).
  bool FirstRefusal();

  // The connection ended: its counts leave the totals, and nothing pauses or resumes it again.
  // Tickets still out only count down.
  void Close();

  // For tests and figures.
  int32_t Tasks() const;
  int64_t Unsent() const;
  bool Paused() const;

 private:
  friend class WorkTicket;
  void TaskBegun(int64_t bytes);
  void TaskEnded(int64_t bytes);
  void AnswerDone(int32_t bytes);

  // Under lock_.
  bool HasWork() const { return tasks_ > 0 || unsent_ > 0; }
  bool OverHighMark() const;
  bool BelowLowMark() const;
  void ResumeIfDrained();

  const uint32_t id_;
  net::ITcpServer* const server_;
  ClientLedger& ledger_;
  // Keeps no kernel object, so the flows of many connections hold no handles.
  mutable platform::SlimLock lock_;
  int32_t tasks_ = 0;
  int64_t taskBytes_ = 0;
  int64_t unsent_ = 0;
  int64_t held_ = 0;
  bool incomplete_ = false;
  bool paused_ = false;
  bool condemned_ = false;
  bool refused_ = false;
  bool closed_ = false;
};

}  // namespace qolv
