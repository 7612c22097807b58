// Round trip of a small PHP page through the server, against running the same
// php-cgi on the same script directly. The interpreter's own start-up is the
// floor; the difference is what the server adds.
//
//   bench_php_roundtrip [ROUNDS]     (default 200)
//
// Runs the server in a network namespace of its own when it may (root), so a
// station already listening on 127.0.0.1:8080 is not disturbed.

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const SCRIPT = "<?php echo 'Station ', 1 + 1, \"\\n\";";

void private_network() {
  if (::unshare(CLONE_NEWNET) != 0) return;
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  ::ioctl(fd, SIOCGIFFLAGS, &request);
  request.ifr_flags |= IFF_UP | IFF_RUNNING;
  ::ioctl(fd, SIOCSIFFLAGS, &request);
  ::close(fd);
}

int connect_server() {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(8080);
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) return fd;
  ::close(fd);
  return -1;
}

std::size_t read_all(int fd) {
  char chunk[65536];
  std::size_t total = 0;
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) total += static_cast<std::size_t>(n);
  return total;
}

// One page through the server: connect, ask, read until the server closes.
double through_server(std::size_t& bytes) {
  const auto start = Clock::now();
  const int fd = connect_server();
  if (fd < 0) return -1;
  const char request[] = "GET /small.php HTTP/1.0\r\n\r\n";
  if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) < 0) return -1;
  bytes = read_all(fd);
  ::close(fd);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The same script, php-cgi started directly with the server's environment.
double direct(const fs::path& server_dir, std::size_t& bytes) {
  const std::string filename = "SCRIPT_FILENAME=" + (server_dir / "www" / "small.php").string();
  const std::string odbc = "ODBC_CONNECT=Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=" +
                           (server_dir / "base2.mdb").string() + ";";
  std::vector<std::string> entries = {filename, "REMOTE_ADDR=127.0.0.1", odbc, "TEMP=", "REQUEST_METHOD=POST",
                                      "CONTENT_LENGTH=0", "CONTENT_TYPE=application/x-www-form-urlencoded",
                                      "REDIRECT_STATUS=200"};
  std::vector<char*> envp;
  for (auto& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  char program[] = "../php/php-cgi.exe";
  char* argv[] = {program, nullptr};

  const auto start = Clock::now();
  int input[2], output[2];
  if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_adddup2(&actions, output[1], 2);
  pid_t pid = 0;
  const int failed = ::posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(output[1]);
  bytes = failed ? 0 : read_all(output[0]);
  ::close(output[0]);
  ::close(input[1]);
  if (!failed) ::waitpid(pid, nullptr, 0);
  return failed ? -1 : std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  std::signal(SIGPIPE, SIG_IGN);
  private_network();

  char pattern[] = "/tmp/zv-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const fs::path root = pattern;
  const fs::path server_dir = root / "server";
  fs::create_directories(server_dir / "www");
  fs::create_directories(root / "php");
  fs::create_symlink("/usr/bin/php-cgi", root / "php" / "php-cgi.exe");
  std::ofstream(server_dir / "www" / "small.php") << SCRIPT;

  const pid_t server = ::fork();
  if (server == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (::chdir(server_dir.c_str()) != 0) ::_exit(126);
    ::execl(ZV_SERVER_BINARY, ZV_SERVER_BINARY, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int fd = -1, tries = 0; fd < 0 && tries < 500; ++tries) {
    fd = connect_server();
    if (fd >= 0) {
      ::shutdown(fd, SHUT_WR);  // an empty request: the server answers 404 at once
      read_all(fd);
      ::close(fd);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // The direct runs need the same working folder as the server's children.
  const fs::path previous = fs::current_path();
  fs::current_path(server_dir);
  std::vector<double> served, started;
  std::size_t served_bytes = 0, direct_bytes = 0;
  for (int i = 0; i < rounds; ++i) {  // interleaved, so drift affects both alike
    const double a = through_server(served_bytes);
    const double b = direct(server_dir, direct_bytes);
    if (a < 0 || b < 0) {
      std::fprintf(stderr, "round %d failed\n", i);
      break;
    }
    served.push_back(a);
    started.push_back(b);
  }
  fs::current_path(previous);
  ::kill(server, SIGKILL);
  ::waitpid(server, nullptr, 0);
  fs::remove_all(root);
  if (served.empty()) return 1;

  const double s = median(served), d = median(started);
  std::printf("rounds                     %zu\n", served.size());
  std::printf("reply bytes                server %zu, direct %zu (the server adds its 67-byte header)\n",
              served_bytes, direct_bytes);
  std::printf("median through the server  %.3f ms\n", s);
  std::printf("median php-cgi directly    %.3f ms\n", d);
  std::printf("ratio                      %.3f\n", s / d);
  std::printf("server's share             %.3f ms (%.1f%% of the interpreter's start-up)\n", s - d,
              100.0 * (s - d) / d);
  return 0;
}
