#pragma once
// The OS side of ChildProcess; process_spawn.cpp collects the output and keeps the state.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/process_spawn.h"

namespace qolv::platform::detail {

// A pipe's read end: a HANDLE on Windows, a descriptor elsewhere.
using PipeHandle = intptr_t;

struct SpawnedChild {
  uint32_t id = 0;
  intptr_t process = -1;  // a process HANDLE on Windows, the pid elsewhere
  PipeHandle output = -1;
  PipeHandle error = -1;
};

// Makes the child with its standard output and error on two new pipes. False with the system
// error set on failure (nothing is left open then).
bool SpawnChild(const std::string& program, const std::vector<std::string>& arguments,
                const SpawnOptions& options, SpawnedChild& child);

// Waits up to timeoutMs; true with exit filled once the child has ended (and was reaped).
bool WaitChild(const SpawnedChild& child, uint32_t timeoutMs, ChildExit& exit);

bool SignalChild(const SpawnedChild& child, bool interrupt);
void KillChild(const SpawnedChild& child);
// Gives up the process handle after the child was reaped.
void ReleaseChild(SpawnedChild& child);

// Reads what the pipe holds into buffer, waiting at most timeoutMs for something to come.
// Returns the bytes read, 0 when nothing came in time, -1 at the end of the pipe or on failure.
long ReadPipe(PipeHandle pipe, char* buffer, size_t capacity, uint32_t timeoutMs);
void ClosePipe(PipeHandle pipe);

}  // namespace qolv::platform::detail
