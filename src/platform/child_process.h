#pragma once
// Anonymous pipes and child processes whose standard handles the server
// chooses: CreatePipe, CreateProcessW, WriteFile, WaitForSingleObject,
// TerminateProcess and CloseHandle.

#include "platform/socket.h"

#include <chrono>
#include <cstdint>

namespace zv {

using OsHandle = std::intptr_t;  // HANDLE on Windows, a descriptor elsewhere
inline constexpr OsHandle NO_OS_HANDLE = -1;

using Deadline = std::chrono::steady_clock::time_point;

// PROCESS_INFORMATION, and what holds everything the child starts: a job
// object that ends them all when closed (Windows). Elsewhere `process` is a
// descriptor that becomes readable when the child ends, the child leads a
// process group of its own, and `thread` and `job` stay NO_OS_HANDLE.
struct ChildProcess {
  OsHandle process = NO_OS_HANDLE;
  OsHandle thread = NO_OS_HANDLE;
  OsHandle job = NO_OS_HANDLE;
  std::uint32_t process_id = 0;
  std::uint32_t thread_id = 0;
};

// CreatePipe with the platform's default buffer. Writes to `write_end` go
// through write_pipe only.
bool create_pipe(OsHandle& read_end, OsHandle& write_end);

// CreateProcessW(application, no command line, handles inherited,
// CREATE_UNICODE_ENVIRONMENT, `environment`, no current directory, standard
// input `standard_input`, standard output and error `output`). The child
// inherits those three handles and nothing else of the server; its
// environment is exactly the block (NAME=value entries each ending in a NUL,
// then one more NUL). False when the program cannot be started.
bool create_process(const char16_t* application, const char16_t* environment, OsHandle standard_input,
                    SocketHandle output, ChildProcess& child);

// WriteFile of up to `count` bytes, never waiting past `deadline`: the bytes
// written (at least 1), or -1 when nothing could be written in time or the
// pipe is broken.
int write_pipe(OsHandle write_end, const char* data, std::uint32_t count, Deadline deadline);

// WaitForSingleObject(process, until `deadline`): true once the child has
// ended.
bool wait_process(const ChildProcess& child, Deadline deadline);

// Ends the child if it still runs, and every process it started, whether or
// not it has ended itself; waits until the child has ended and reaps it.
void end_process_tree(const ChildProcess& child);

// CloseHandle; does nothing for NO_OS_HANDLE. Resets `handle`.
void close_handle(OsHandle& handle);

}  // namespace zv
