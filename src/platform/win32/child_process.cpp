#include "platform/child_process.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace zv {
namespace {
constexpr DWORD DEFAULT_PIPE_SIZE = 4096;  // what CreatePipe with size 0 gives

// NO_OS_HANDLE (-1) is also the current process's pseudo-handle, so callers
// check for it before they wait on or end a child.
HANDLE native(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }

DWORD milliseconds_until(Deadline deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (left <= 0) return 0;
  return left >= INFINITE ? INFINITE : static_cast<DWORD>(left);
}

// The attribute list that restricts inheritance to the given handles.
class InheritedHandles {
 public:
  explicit InheritedHandles(HANDLE (&handles)[2]) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_ = std::make_unique<unsigned char[]>(size);
    list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
    initialized_ = InitializeProcThreadAttributeList(list_, 1, 0, &size);
    ready_ = initialized_ && UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                                       sizeof handles, nullptr, nullptr);
  }
  ~InheritedHandles() {
    if (initialized_) DeleteProcThreadAttributeList(list_);
  }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return ready_ ? list_ : nullptr; }

 private:
  std::unique_ptr<unsigned char[]> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
  bool initialized_ = false;
  bool ready_ = false;
};
}  // namespace

bool create_pipe(OsHandle& read_end, OsHandle& write_end) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  if (!CreatePipe(&reader, &writer, &inheritable, 0)) return false;
  // Only the server writes into the pipe, and it must never block past its
  // deadline: the write end stays in the server and does not wait when full.
  DWORD no_wait = PIPE_READMODE_BYTE | PIPE_NOWAIT;
  if (!SetHandleInformation(writer, HANDLE_FLAG_INHERIT, 0) ||
      !SetNamedPipeHandleState(writer, &no_wait, nullptr, nullptr)) {
    CloseHandle(reader);
    CloseHandle(writer);
    return false;
  }
  read_end = reinterpret_cast<OsHandle>(reader);
  write_end = reinterpret_cast<OsHandle>(writer);
  return true;
}

// A job that ends every process in it once its last handle is closed.
HANDLE create_kill_on_close_job() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

bool create_process(const char16_t* application, const char16_t* environment, OsHandle standard_input,
                    SocketHandle output, ChildProcess& child) {
  HANDLE inherited[2] = {native(standard_input), reinterpret_cast<HANDLE>(output)};
  InheritedHandles only(inherited);
  // Without the list the child would inherit every inheritable handle of the
  // server, the sockets of other connections among them.
  if (!only.list()) return false;
  HANDLE job = create_kill_on_close_job();
  if (!job) return false;

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = inherited[0];
  startup.StartupInfo.hStdOutput = inherited[1];
  startup.StartupInfo.hStdError = inherited[1];
  startup.lpAttributeList = only.list();
  // Suspended until it is in the job, so that nothing it starts escapes it.
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED;

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(reinterpret_cast<const wchar_t*>(application), nullptr, &inheritable, &inheritable, TRUE, flags,
                      const_cast<char16_t*>(environment), nullptr, &startup.StartupInfo, &started)) {
    CloseHandle(job);
    return false;
  }
  if (!AssignProcessToJobObject(job, started.hProcess) || ResumeThread(started.hThread) == static_cast<DWORD>(-1)) {
    TerminateProcess(started.hProcess, 1);
    WaitForSingleObject(started.hProcess, INFINITE);
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    CloseHandle(job);
    return false;
  }
  child.job = reinterpret_cast<OsHandle>(job);
  child.process = reinterpret_cast<OsHandle>(started.hProcess);
  child.thread = reinterpret_cast<OsHandle>(started.hThread);
  child.process_id = started.dwProcessId;
  child.thread_id = started.dwThreadId;
  return true;
}

int write_pipe(OsHandle write_end, const char* data, std::uint32_t count, Deadline deadline) {
  // The write end does not wait: a full pipe takes nothing, and the write is
  // tried again until the child has read or the deadline has passed. A write
  // is at most what a pipe of the default size holds, since some platforms
  // (Wine) take a write that does not wait either whole or not at all.
  const DWORD chunk = std::min<std::uint32_t>(count, DEFAULT_PIPE_SIZE);
  for (;;) {
    DWORD written = 0;
    if (!WriteFile(native(write_end), data, chunk, &written, nullptr)) return -1;
    if (written > 0) return static_cast<int>(written);
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool wait_process(const ChildProcess& child, Deadline deadline) {
  if (child.process == NO_OS_HANDLE) return true;
  return WaitForSingleObject(native(child.process), milliseconds_until(deadline)) == WAIT_OBJECT_0;
}

void end_process_tree(const ChildProcess& child) {
  if (child.process == NO_OS_HANDLE) return;
  TerminateJobObject(native(child.job), 1);
  WaitForSingleObject(native(child.process), INFINITE);
}

void close_handle(OsHandle& handle) {
  if (handle != NO_OS_HANDLE) CloseHandle(native(handle));
  handle = NO_OS_HANDLE;
}

}  // namespace zv
