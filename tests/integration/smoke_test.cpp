#include "support/server_harness.h"

#include <gtest/gtest.h>

namespace zv::testing {

// The first thing an operator sees: the server starts, listens and answers.
TEST(ServerSmoke, StartsListensAndAnswersA404) {
  TempDir dir;
  ServerProcess server(dir.path());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  EXPECT_EQ(http_exchange("GET / HTTP/1.0\r\n\r\n"), "HTTP/1.0 404 Not Found\nServer: ZentavioInternetTV\n\n");
  EXPECT_TRUE(server.wait_for_console("\n---> Exit socket_accept_mt\n")) << server.console();
}

}  // namespace zv::testing
