#include "support/server_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace zv::testing {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "zv-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

std::vector<std::string> short_limits_environment() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
  entries.emplace_back("ZV_TEST_LIMIT_DIVISOR=10");
  return entries;
}

void Station::link_php_cgi() const {
  fs::create_directories(root.path() / "php");
  fs::create_symlink("/usr/bin/php-cgi", root.path() / "php" / "php-cgi.exe");
}

ServerProcess::ServerProcess(const fs::path& working_dir, std::optional<std::vector<std::string>> environment,
                             const char* program, bool with_standard_input) {
  if (!program) program = ZV_SERVER_BINARY;
  console_file_ = console_dir_.path() / "console.txt";
  std::vector<char*> env;
  if (environment) {
    for (auto& entry : *environment) env.push_back(entry.data());
    env.push_back(nullptr);
  }
  const std::string console = console_file_.string();
  const std::string dir = working_dir.string();
  pid_ = ::fork();
  if (pid_ == 0) {
    const int out = ::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (with_standard_input) {
      ::dup2(::open("/dev/null", O_RDONLY), 0);
    } else {
      ::close(0);
    }
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    char* argv[] = {const_cast<char*>(program), nullptr};
    ::execve(program, argv, environment ? env.data() : environ);
    ::_exit(127);
  }
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string ServerProcess::console() const {
  std::ifstream in(console_file_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<int> ServerProcess::wait_exit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
}

long ServerProcess::cpu_ticks() const { return process_cpu_ticks(pid_); }

long process_cpu_ticks(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {  // fields 14 and 15 of the stat line
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

int connect_to_server(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(8080);
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (;;) {
    // Connected without blocking, so a server whose queue is full (it does not
    // accept) costs the timeout, not the kernel's minutes of retries.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    if (!connected && errno == EINPROGRESS) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd entry{fd, POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof error;
      connected = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left, 1))) == 1 &&
                  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    if (connected) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    ::close(fd);
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(10ms);
  }
}

bool send_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string read_until_closed(int fd, std::chrono::milliseconds timeout, std::chrono::milliseconds pause) {
  const auto deadline = Clock::now() + timeout;
  std::string reply;
  char chunk[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    reply.append(chunk, static_cast<std::size_t>(n));
    std::this_thread::sleep_for(pause);
  }
  return reply;
}

std::string http_exchange(const std::string& request, std::chrono::milliseconds timeout) {
  const int fd = connect_to_server();
  if (fd < 0) return {};
  if (!request.empty()) send_all(fd, request);
  std::string reply = read_until_closed(fd, timeout);
  ::close(fd);
  return reply;
}

bool enter_private_network() {
  if (::unshare(CLONE_NEWNET) != 0) return false;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP | IFF_RUNNING;
  up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return up;
}

}  // namespace zv::testing
