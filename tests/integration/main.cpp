// Every integration test process gets a network namespace of its own with
// just a loopback interface, so each test can run the real server on
// 127.0.0.1:8080 while other tests do the same.

#include "support/server_harness.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!zv::testing::enter_private_network()) {
    std::fprintf(stderr,
                 "integration tests: no private network namespace (needs root or CAP_SYS_ADMIN); "
                 "tests share 127.0.0.1:8080 and must not run in parallel\n");
  }
  return RUN_ALL_TESTS();
}
