#include "platform/child_process.h"

#include "platform/posix/utf8_text.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// A child is started with posix_spawn and watched through a pidfd, so that
// waiting for it can be bounded and a signal never reaches a recycled pid.

namespace zv {
namespace {

int fd_of(OsHandle handle) { return static_cast<int>(handle); }

// Entries of a block of NUL-terminated entries that ends with an empty one.
std::vector<std::string> environment_entries(const char16_t* block) {
  std::vector<std::string> entries;
  if (!block) return entries;
  for (const char16_t* entry = block; *entry != 0;) {
    entries.push_back(utf8_from_wide(entry));
    while (*entry != 0) ++entry;
    ++entry;
  }
  return entries;
}

// A copy of `fd` numbered 3 or above, so that placing the child's standard
// descriptors 0 to 2 can never overwrite another of them.
int high_copy(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 3); }

int milliseconds_until(Deadline deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

// Collects the exit status of an ended child; somebody else may have done so.
void reap(const ChildProcess& child) {
  while (::waitpid(static_cast<pid_t>(child.process_id), nullptr, WNOHANG) < 0 && errno == EINTR) {
  }
}

// The processes whose parent is this one. What a script leaves behind when
// it moves to a session of its own comes back here once its parent is gone,
// as this process is their subreaper.
std::vector<pid_t> own_children() {
  std::vector<pid_t> children;
  DIR* proc = ::opendir("/proc");
  if (!proc) return children;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != 0) continue;
    char name[64];
    std::snprintf(name, sizeof name, "/proc/%ld/stat", pid);
    FILE* stat = std::fopen(name, "re");
    if (!stat) continue;
    char text[512];
    const std::size_t length = std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    text[length] = 0;
    // "pid (name) state ppid ...": the name may hold anything but ends at the last ')'.
    const char* after_name = std::strrchr(text, ')');
    char state = 0;
    long parent = 0;
    if (after_name && std::sscanf(after_name + 1, " %c %ld", &state, &parent) == 2 && parent == self)
      children.push_back(static_cast<pid_t>(pid));
  }
  ::closedir(proc);
  return children;
}

// Ends whatever of the ended group is still alive, and every process that has
// come back to this one since; bounded, so a tree that will not die cannot
// hold the connection.
void end_leftovers(pid_t group) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    const bool group_alive = ::kill(-group, SIGKILL) == 0;
    const std::vector<pid_t> children = own_children();
    for (const pid_t pid : children) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    if ((!group_alive && children.empty()) || std::chrono::steady_clock::now() >= deadline) return;
    if (children.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the group is still dying
  }
}

}  // namespace

bool create_pipe(OsHandle& read_end, OsHandle& write_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  // The write end never blocks: write_pipe waits for room itself, bounded.
  if (::fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  read_end = fds[0];
  write_end = fds[1];
  return true;
}

bool create_process(const char16_t* application, const char16_t* environment, OsHandle standard_input,
                    SocketHandle output, ChildProcess& child) {
  const std::string program = utf8_from_wide(application);
  std::vector<std::string> entries = environment_entries(environment);
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

  // What the child starts and then abandons comes back to this process, not
  // to init, so that it can be ended with the child's connection.
  static const bool subreaper = ::prctl(PR_SET_CHILD_SUBREAPER, 1UL, 0UL, 0UL, 0UL) == 0;
  (void)subreaper;
  const int input = high_copy(fd_of(standard_input));
  const int socket = high_copy(static_cast<int>(output));
  bool started = false;
  pid_t pid = 0;
  if (input >= 0 && socket >= 0) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_adddup2(&actions, socket, 1);
    posix_spawn_file_actions_adddup2(&actions, socket, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_init(&attributes);
    // Its own process group, so that ending it also ends what it started;
    // the signal dispositions the server changed for itself are not passed on.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    started = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data()) == 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  if (input >= 0) ::close(input);
  if (socket >= 0) ::close(socket);
  if (!started) return false;

  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    // Without a handle the child could be neither waited for nor ended.
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return false;
  }
  child.process = pidfd;
  child.thread = NO_OS_HANDLE;
  child.process_id = static_cast<std::uint32_t>(pid);
  child.thread_id = 0;
  return true;
}

int write_pipe(OsHandle write_end, const char* data, std::uint32_t count, Deadline deadline) {
  const std::size_t size = count > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : count;
  for (;;) {
    const ssize_t written = ::write(fd_of(write_end), data, size);
    if (written > 0) return static_cast<int>(written);
    if (written < 0 && errno == EINTR) continue;
    if (written == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return -1;
    const int wait = milliseconds_until(deadline);
    if (wait == 0) return -1;
    pollfd ready{fd_of(write_end), POLLOUT, 0};
    if (::poll(&ready, 1, wait) < 0 && errno != EINTR) return -1;
  }
}

bool wait_process(const ChildProcess& child, Deadline deadline) {
  if (child.process == NO_OS_HANDLE) return true;
  for (;;) {
    pollfd ended{fd_of(child.process), POLLIN, 0};
    const int ready = ::poll(&ended, 1, milliseconds_until(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

void end_process_tree(const ChildProcess& child) {
  if (child.process == NO_OS_HANDLE) return;
  // The child is not reaped yet, so its id cannot have gone to another
  // process: the group is still the one it leads, with whatever it started.
  if (::kill(-static_cast<pid_t>(child.process_id), SIGKILL) != 0)
    ::syscall(SYS_pidfd_send_signal, fd_of(child.process), SIGKILL, nullptr, 0);
  wait_process(child, Deadline::max());
  reap(child);
  end_leftovers(static_cast<pid_t>(child.process_id));
}

void close_handle(OsHandle& handle) {
  if (handle == NO_OS_HANDLE) return;
  ::close(fd_of(handle));
  handle = NO_OS_HANDLE;
}

}  // namespace zv
