#pragma once

namespace qolv::platform {

using WorkItemFunction = void (*)(void* context);

// Runs work(context) once on a thread meant for long-running work (the system thread pool with
// WT_EXECUTELONGFUNCTION on Windows, a detached thread of our own on Linux) and returns at once.
// False with the system error set when the work could not be queued.
bool QueueLongWorkItem(WorkItemFunction work, void* context);

}  // namespace qolv::platform
