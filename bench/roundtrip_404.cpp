// Round trip of a 404 request through the real server over loopback, beside
// the same request to lighttpd with mod_cgi (the anchor), in the same run:
// connect, send the request line, read until the server closes. Sequential,
// like a browser that waits for each page; the two servers take turns in
// batches, so a busy machine disturbs both alike. Prints both medians and
// their ratio, also with the server's 50 us quiet period taken out; first
// with the processes where the scheduler puts them, then with the client and
// both servers on one processor. Spread, a figure depends on whether a
// wake-up finds its processor asleep (lighttpd's median moves between about
// 45 and 75 us from run to run here); on one processor it is the work done.
// Last, the share of each round trip that goes to asking who is at the other
// end of the connection, timed alone.
//
//   bench_roundtrip_404 [ROUNDS]     (default 2000 per server)
//
// Runs in a network namespace of its own when it may (root), so a station
// already listening on 127.0.0.1:8080 is not disturbed.

#include "platform/connection_peer.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace zt = zv::testing;

const std::string REQUEST = "GET /missing HTTP/1.0\r\n\r\n";
const std::string HEADER_404 = "HTTP/1.0 404 Not Found\nServer: ZentavioInternetTV\n\n";
constexpr double QUIET_PERIOD_US = 50;
constexpr int BATCH = 100;

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

sockaddr_in loopback(int port) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<std::uint16_t>(port));
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return where;
}

// A loopback port nobody listens on now.
int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in where = loopback(0);
  socklen_t length = sizeof where;
  ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  ::close(fd);
  return ntohs(where.sin_port);
}

int connect_to(int port) {
  const sockaddr_in where = loopback(port);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0) return fd;
  ::close(fd);
  return -1;
}

std::string exchange(int port) {
  const int fd = connect_to(port);
  if (fd < 0) return {};
  zt::send_all(fd, REQUEST);
  std::string reply = zt::read_until_closed(fd);
  ::close(fd);
  return reply;
}

// lighttpd serving an empty document root with PHP through mod_cgi, its
// configuration in `folder`; stopped with the object.
class Lighttpd {
 public:
  Lighttpd(const std::filesystem::path& folder, int port) : port_(port) {
    std::filesystem::create_directories(folder / "htdocs");
    const auto config = folder / "lighttpd.conf";
    std::ofstream(config) << "server.document-root = \"" << (folder / "htdocs").string() << "\"\n"
                          << "server.bind = \"127.0.0.1\"\nserver.port = " << port << "\n"
                          << "server.errorlog = \"" << (folder / "error.log").string() << "\"\n"
                          << "server.modules = (\"mod_cgi\")\ncgi.assign = (\".php\" => \"/usr/bin/php-cgi\")\n";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/usr/sbin/lighttpd", "lighttpd", "-D", "-f", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Lighttpd() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int pid() const { return pid_; }
  bool wait_until_listening() const {
    for (int i = 0; i < 500; ++i) {
      const int fd = connect_to(port_);
      if (fd >= 0) {
        ::close(fd);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  int port_;
  pid_t pid_ = -1;
};

// How often the server's threads have been switched out so far (each one a
// wake-up to come), from their status.
long server_switches(int pid) {
  long switches = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    std::ifstream in(task.path() / "status");
    for (std::string line; std::getline(in, line);) {
      if (line.find("ctxt_switches:") != std::string::npos) switches += std::atol(line.c_str() + line.find(':') + 1);
    }
  }
  return switches;
}

// Every thread of process `pid` (0: this one) on processor `cpu` only.
void pin(int pid, int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  const std::string tasks = pid == 0 ? "/proc/self/task" : "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks)) {
    ::sched_setaffinity(std::atoi(task.path().filename().c_str()), sizeof one, &one);
  }
}

// One timed round trip to `port`; false when the reply is not a 404.
bool time_one(int port, std::vector<double>& micros) {
  const auto start = Clock::now();
  const std::string reply = exchange(port);
  micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  return reply.rfind("HTTP/1.", 0) == 0 && reply.find(" 404 ") != std::string::npos;
}

// The peer check's own share of a connection (the lookup of the user at the
// other end, which the server makes for every connection it serves), timed
// alone on connections of this process.
void report_peer_check() {
  const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in where = loopback(0);
  socklen_t length = sizeof where;
  ::bind(listening, reinterpret_cast<sockaddr*>(&where), sizeof where);
  ::listen(listening, 1);
  ::getsockname(listening, reinterpret_cast<sockaddr*>(&where), &length);
  std::string why;
  if (!zv::peer_check_available(static_cast<zv::SocketHandle>(listening), why)) {
    std::printf("peer check: not made on this machine (%s)\n", why.c_str());
    ::close(listening);
    return;
  }
  const int client = connect_to(ntohs(where.sin_port));
  const int accepted = ::accept(listening, nullptr, nullptr);
  std::vector<double> micros;
  for (int i = 0; i < 2000; ++i) {
    const auto start = Clock::now();
    const zv::PeerCheck check = zv::check_connection_peer(static_cast<zv::SocketHandle>(accepted));
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (check.user != zv::PeerUser::station) std::printf("peer check: unexpected verdict (%s)\n", check.who.c_str());
  }
  std::printf(
      "peer check (who is at the other end), included in the server's round trips above:\n"
      "  median %7.1f us   p99 %7.1f us per connection\n",
      percentile(micros, 0.5), percentile(micros, 0.99));
  for (const int fd : {accepted, client, listening}) ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(BATCH, std::atoi(argv[1])) : 2000;
  if (!zt::enter_private_network()) {
    std::fprintf(stderr, "no private network namespace (needs root): using the machine's 127.0.0.1:8080\n");
  }
  zt::TempDir dir;
  zt::ServerProcess server(dir.path());
  if (!server.wait_until_listening()) {
    std::fprintf(stderr, "the server did not start:\n%s", server.console().c_str());
    return 1;
  }
  const int anchor_port = free_port();
  Lighttpd anchor(dir.path() / "lighttpd", anchor_port);
  if (!anchor.wait_until_listening()) {
    std::fprintf(stderr, "lighttpd did not start (package lighttpd)\n");
    return 1;
  }
  if (zt::http_exchange(REQUEST) != HEADER_404 || exchange(anchor_port).find(" 404 ") == std::string::npos) {
    std::fprintf(stderr, "unexpected reply\n");  // warm-up, and a check of what is measured
    return 1;
  }

  for (const bool one_processor : {false, true}) {
    if (one_processor) {
      for (const int pid : {0, server.pid(), anchor.pid()}) pin(pid, 0);
    }
    std::vector<double> ours, theirs;
    ours.reserve(static_cast<std::size_t>(rounds));
    theirs.reserve(static_cast<std::size_t>(rounds));
    long server_ticks = 0;
    long switches = 0;
    for (int done = 0; done < rounds; done += BATCH) {
      const long ticks_before = server.cpu_ticks();
      const long switches_before = server_switches(server.pid());
      for (int i = 0; i < BATCH; ++i) {
        if (!time_one(8080, ours)) {
          std::fprintf(stderr, "the server gave an unexpected reply\n");
          return 1;
        }
      }
      server_ticks += server.cpu_ticks() - ticks_before;
      switches += server_switches(server.pid()) - switches_before;
      for (int i = 0; i < BATCH; ++i) {
        if (!time_one(anchor_port, theirs)) {
          std::fprintf(stderr, "lighttpd gave an unexpected reply\n");
          return 1;
        }
      }
    }

    const double our_median = percentile(ours, 0.5);
    const double their_median = percentile(theirs, 0.5);
    std::printf("404 round trips over loopback, %s: %zu sequential requests each, in turns of %d\n",
                one_processor ? "all on one processor" : "spread by the scheduler", ours.size(), BATCH);
    std::printf("  server            median %7.1f us   p99 %7.1f us\n", our_median, percentile(ours, 0.99));
    std::printf("  lighttpd+mod_cgi  median %7.1f us   p99 %7.1f us\n", their_median, percentile(theirs, 0.99));
    const double requests = static_cast<double>(ours.size());
    std::printf("  server per request: %.1f us of processor time, %.1f context switches of its threads\n",
                1e6 * static_cast<double>(server_ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / requests,
                static_cast<double>(switches) / requests);
    std::printf("  ratio to lighttpd: %.2f; without the %.0f us quiet period: %.2f\n", our_median / their_median,
                QUIET_PERIOD_US, (our_median - QUIET_PERIOD_US) / their_median);
  }
  report_peer_check();
  return 0;
}
