// Every integration test process gets a network namespace of its own with
// just a loopback interface, so each test can run the real server on
// 127.0.0.1:8080 while other tests do the same.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool bring_loopback_up() {
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

bool enter_private_network() {
  if (::unshare(CLONE_NEWNET) == 0) return bring_loopback_up();
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!enter_private_network()) {
    std::fprintf(stderr,
                 "integration tests: no private network namespace (needs root or CAP_SYS_ADMIN); "
                 "tests share 127.0.0.1:8080 and must not run in parallel\n");
  }
  return RUN_ALL_TESTS();
}
