#include "platform/process_spawn.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/error_codes.h"
#include "platform/process_spawn_detail.h"
#include "platform/system_error.h"

namespace qolv::platform {
namespace {

// How long the output readers may still take after the child ended: a grandchild that kept the
// pipes open must not hold the caller forever.
constexpr uint32_t kDrainLimitMs = 5000;
constexpr uint32_t kReadSliceMs = 50;

// Collects one pipe on a thread of its own, so a child that writes a lot never blocks on a full pipe.
class PipeCollector {
 public:
  void Start(detail::PipeHandle pipe) {
    pipe_ = pipe;
    thread_ = std::thread([this] { Run(); });
  }

  // Waits for the end of the pipe up to limitMs, then stops reading in any case.
  void Finish(uint32_t limitMs) {
    if (!thread_.joinable()) return;
    const uint32_t start = TickCount();
    while (!ended_.load() && TickCount() - start < limitMs) SleepMs(10);
    stop_.store(true);
    thread_.join();
    detail::ClosePipe(pipe_);
  }

  std::string Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  void Run() {
    char buffer[4096];
    while (!stop_.load()) {
      const long n = detail::ReadPipe(pipe_, buffer, sizeof buffer, kReadSliceMs);
      if (n < 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      text_.append(buffer, static_cast<size_t>(n));
    }
    ended_.store(true);
  }

  detail::PipeHandle pipe_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace

struct ChildProcess::Impl {
  detail::SpawnedChild child;
  bool running = false;
  ChildExit exit;
  PipeCollector output;
  PipeCollector error;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
  if (!impl_->running) return;
  Kill();
  // A killed child ends at once; the bound only keeps a stuck system from hanging the caller.
  Wait(30000);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const SpawnOptions& options) {
  if (impl_->running) {
    SetSystemError(err::kInvalidState);
    return false;
  }
  impl_ = std::make_unique<Impl>();
  if (!detail::SpawnChild(program, arguments, options, impl_->child)) return false;
  impl_->running = true;
  impl_->output.Start(impl_->child.output);
  impl_->error.Start(impl_->child.error);
  return true;
}

bool ChildProcess::Wait(uint32_t timeoutMs) {
  if (!impl_->running) return true;
  if (!detail::WaitChild(impl_->child, timeoutMs, impl_->exit)) return false;
  impl_->running = false;
  detail::ReleaseChild(impl_->child);
  impl_->output.Finish(kDrainLimitMs);
  impl_->error.Finish(kDrainLimitMs);
  return true;
}

bool ChildProcess::RequestStop(bool interrupt) {
  if (!impl_->running) {
    SetSystemError(err::kInvalidState);
    return false;
  }
  return detail::SignalChild(impl_->child, interrupt);
}

void ChildProcess::Kill() {
  if (impl_->running) detail::KillChild(impl_->child);
}

uint32_t ChildProcess::id() const { return impl_->child.id; }
const ChildExit& ChildProcess::exit() const { return impl_->exit; }
std::string ChildProcess::StandardOutput() const { return impl_->output.Text(); }
std::string ChildProcess::StandardError() const { return impl_->error.Text(); }

}  // namespace qolv::platform
