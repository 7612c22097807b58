// Round trip of a 404 request through the real server over loopback: connect,
// send the request line, read until the server closes. Sequential, like a
// browser that waits for each page.
//
//   bench_roundtrip_404 [ROUNDS]     (default 1000)
//
// Runs the server in a network namespace of its own when it may (root), so a
// station already listening on 127.0.0.1:8080 is not disturbed.

#include "server_harness.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace zt = zv::testing;

const std::string REQUEST = "GET /missing HTTP/1.0\r\n\r\n";
const std::string HEADER_404 = "HTTP/1.0 404 Not Found\nServer: ZentavioInternetTV\n\n";

double percentile(const std::vector<double>& sorted, double p) {
  const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  if (!zt::enter_private_network()) {
    std::fprintf(stderr, "no private network namespace (needs root): using the machine's 127.0.0.1:8080\n");
  }
  zt::TempDir dir;
  zt::ServerProcess server(dir.path());
  if (!server.wait_until_listening()) {
    std::fprintf(stderr, "the server did not start:\n%s", server.console().c_str());
    return 1;
  }
  if (zt::http_exchange(REQUEST) != HEADER_404) {  // warm-up, and a check of what is measured
    std::fprintf(stderr, "unexpected reply\n");
    return 1;
  }

  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(rounds));
  const long ticks_before = server.cpu_ticks();
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    const std::string reply = zt::http_exchange(REQUEST);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (reply != HEADER_404) {
      std::fprintf(stderr, "round %d: unexpected reply of %zu bytes\n", i, reply.size());
      return 1;
    }
  }
  const long server_ticks = server.cpu_ticks() - ticks_before;

  std::sort(micros.begin(), micros.end());
  const double mean = std::accumulate(micros.begin(), micros.end(), 0.0) / static_cast<double>(micros.size());
  std::printf("404 round trips over loopback: %d sequential requests\n", rounds);
  std::printf("  median %.1f us   p99 %.1f us   min %.1f us   max %.1f us   mean %.1f us\n", percentile(micros, 0.5),
              percentile(micros, 0.99), micros.front(), micros.back(), mean);
  std::printf("  server CPU time: %.1f us per request\n",
              1e6 * static_cast<double>(server_ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / rounds);
  return 0;
}
