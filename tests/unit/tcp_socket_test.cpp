#include "net/tcp_socket.h"

#include "platform/socket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

// The client side of these tests needs connect and getsockname, which the
// server never calls, so they come straight from the operating system here.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace zv {
namespace {

// Unit tests share the machine's network namespace: never port 8080, always
// an ephemeral port the system picks.
struct BoundAddress {
  std::uint32_t address = 0;  // host order
  std::uint16_t port = 0;
};

BoundAddress bound_address(SocketHandle s) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  BoundAddress result;
  if (getsockname(static_cast<decltype(socket(0, 0, 0))>(s), reinterpret_cast<sockaddr*>(&a), &length) == 0) {
    result.address = ntohl(a.sin_addr.s_addr);
    result.port = ntohs(a.sin_port);
  }
  return result;
}

SocketHandle connect_loopback(std::uint16_t port) {
  const auto s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    socket_close(static_cast<SocketHandle>(s));
    return INVALID_SOCKET_HANDLE;
  }
  return static_cast<SocketHandle>(s);
}

// Reads what arrives within a few seconds, until the peer closes.
std::string read_until_closed(SocketHandle s) {
  std::string all;
  char buffer[256];
  while (socket_wait_readable(s, 5, 0) > 0) {
    const int n = socket_recv(s, buffer, sizeof buffer);
    if (n <= 0) break;
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

// A listener on an ephemeral loopback port with one accepted connection.
class LoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(listener_.handle(), 0u);
    ASSERT_EQ(listener_.bind(nullptr, 0), 0);
    port_ = bound_address(listener_.handle()).port;
    ASSERT_NE(port_, 0);
    testing::internal::CaptureStdout();
    ASSERT_EQ(listener_.listen(1), 0);
    client_ = connect_loopback(port_);
    ASSERT_NE(client_, INVALID_SOCKET_HANDLE);
    ASSERT_TRUE(listener_.accept_waiting(accepted_));
    console_ = testing::internal::GetCapturedStdout();
    ASSERT_NE(accepted_, INVALID_SOCKET_HANDLE);
  }
  void TearDown() override {
    if (client_ != INVALID_SOCKET_HANDLE) socket_close(client_);
  }

  TcpSocket listener_;
  std::uint16_t port_ = 0;
  SocketHandle client_ = INVALID_SOCKET_HANDLE;
  SocketHandle accepted_ = INVALID_SOCKET_HANDLE;
  std::string console_;
};

TEST_F(LoopbackTest, ListenAndAcceptNarrate) {
  EXPECT_EQ(console_, "Listening on socket...\nClient connected.\n");  // the listener announces the wait
  TcpSocket connection(accepted_);
  EXPECT_EQ(connection.handle(), accepted_);
}

TEST_F(LoopbackTest, BindWithoutAddressMeansLoopback) {
  EXPECT_EQ(bound_address(listener_.handle()).address, 0x7F000001u);
}

TEST_F(LoopbackTest, SendEdgeCases) {
  {
    TcpSocket connection(accepted_);
    EXPECT_EQ(connection.send(nullptr, 5), 0);
    EXPECT_EQ(connection.send("", 0), 0);
    EXPECT_EQ(connection.send("", -3), 0);
    EXPECT_EQ(connection.send("hello\0world", 0), 5);  // up to the first NUL
    EXPECT_EQ(connection.send("abc", 2), 2);
    EXPECT_EQ(connection.send("x\0y", 3), 3);
  }  // the destructor shuts down and closes: the client sees the end
  EXPECT_EQ(read_until_closed(client_), std::string("helloabx\0y", 10));
}

TEST_F(LoopbackTest, ReceiveEdgeCases) {
  TcpSocket connection(accepted_);
  char buffer[16];
  EXPECT_EQ(connection.receive(nullptr, 10), 0);
  EXPECT_EQ(connection.receive(buffer, 0), 0);

  ASSERT_EQ(socket_send(client_, "xyz", 3), 3);
  ASSERT_GT(socket_wait_readable(connection.handle(), 5, 0), 0);
  std::memset(buffer, 'Q', sizeof buffer);
  EXPECT_EQ(connection.receive(buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 4), "xyzQ") << "receive does not terminate";

  ASSERT_EQ(socket_send(client_, "abcdef", 6), 6);
  ASSERT_GT(socket_wait_readable(connection.handle(), 5, 0), 0);
  EXPECT_EQ(connection.receive(buffer, 4), 4);  // never more than the size
  EXPECT_EQ(connection.receive(buffer, 4), 2);

  socket_close(client_);
  client_ = INVALID_SOCKET_HANDLE;
  ASSERT_GT(socket_wait_readable(connection.handle(), 5, 0), 0);
  EXPECT_EQ(connection.receive(buffer, sizeof buffer), 0) << "peer closed";
}

TEST_F(LoopbackTest, PortInUseGivesErrorAndItsText) {
  TcpSocket second;
  EXPECT_EQ(second.bind(nullptr, port_), WSA_ADDRESS_IN_USE);
  EXPECT_STREQ(TcpSocket::error_text(), "Address already in use.");
}

TEST_F(LoopbackTest, ListenOnAConnectedSocketFails) {
  TcpSocket connected(accepted_);
  testing::internal::CaptureStdout();
  const int code = connected.listen(1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error listening on socket.\n");
  EXPECT_NE(code, 0);
  EXPECT_STREQ(TcpSocket::error_text(), socket_error_text(code));
}

TEST(TcpSocketTest, BindToAnAddressThatIsNotOursFails) {
  TcpSocket s;
  EXPECT_EQ(s.bind("192.0.2.1", 0), 10049);  // a documentation address, never local
  EXPECT_STREQ(TcpSocket::error_text(), "Cannot assign requested address.");
}

TEST(TcpSocketTest, ListenOnAHandleThatIsNoSocket) {
  TcpSocket stale(SocketHandle{100000});  // far above any descriptor this process opens
  testing::internal::CaptureStdout();
  EXPECT_EQ(stale.listen(1), WSA_NOT_SOCKET);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error listening on socket.\n");
  EXPECT_STREQ(TcpSocket::error_text(), "Socket operation on non-socket.");
}

TEST(TcpSocketTest, ErrorTexts) {
  socket_set_last_error(10048);
  EXPECT_STREQ(TcpSocket::error_text(), "Address already in use.");
  socket_set_last_error(12345);
  EXPECT_STREQ(TcpSocket::error_text(), "Unknown error.");
  socket_set_last_error(0);
  EXPECT_STREQ(TcpSocket::error_text(), "Unknown error.");

  EXPECT_STREQ(socket_error_text(6), "Specified event object handle is invalid.");
  EXPECT_STREQ(socket_error_text(997), "Overlapped operations will complete later.");
  EXPECT_STREQ(socket_error_text(10053), "Software caused connection abort.");
  EXPECT_STREQ(socket_error_text(10059), "Unknown error.");  // a gap in the table
  EXPECT_STREQ(socket_error_text(10061), "Connection refused.");
  EXPECT_STREQ(socket_error_text(10093), "Successful WSAStartup not yet performed.");
  EXPECT_STREQ(socket_error_text(11004), "Valid name, no data record of requested type.");
  EXPECT_STREQ(socket_error_text(-1), "Unknown error.");
  for (int code = 0; code < 12000; ++code) {
    const char* text = socket_error_text(code);
    ASSERT_NE(text, nullptr) << code;
    ASSERT_NE(std::strlen(text), 0u) << code;
    ASSERT_EQ(text[std::strlen(text) - 1], '.') << code << ": no trailing newline, one full stop";
  }
}

TEST(TcpSocketTest, LastErrorIsKeptPerThread) {
  socket_set_last_error(10048);
  int seen_in_thread = -1;
  std::thread other([&] {
    socket_set_last_error(10061);
    seen_in_thread = socket_last_error();
  });
  other.join();
  EXPECT_EQ(seen_in_thread, 10061);
  EXPECT_EQ(socket_last_error(), 10048);
}

}  // namespace
}  // namespace zv
