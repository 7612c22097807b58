// The pipe to a CGI child on Windows: a full pipe never holds the server past
// its deadline.

#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <string>

namespace zv {
namespace {

using namespace std::chrono_literals;

TEST(WindowsPipe, AFullPipeGivesUpAtTheDeadline) {
  OsHandle read_end = NO_OS_HANDLE, write_end = NO_OS_HANDLE;
  ASSERT_TRUE(create_pipe(read_end, write_end));
  const std::string chunk(64 * 1024, 'x');
  const auto deadline = std::chrono::steady_clock::now() + 300ms;
  long long written = 0;
  int result = 0;
  for (int i = 0; i < 1000 && (result = write_pipe(write_end, chunk.data(), chunk.size(), deadline)) > 0; ++i)
    written += result;
  // How much a pipe nobody reads takes first is the platform's affair (Wine
  // buffers nothing); that the writer gives up, and not before the deadline, is not.
  EXPECT_EQ(result, -1);
  EXPECT_LT(written, 1000LL * static_cast<long long>(chunk.size()));
  EXPECT_GE(std::chrono::steady_clock::now(), deadline);
  close_handle(read_end);
  close_handle(write_end);
  EXPECT_EQ(read_end, NO_OS_HANDLE);
}

TEST(WindowsPipe, AWriteIntoAPipeWithoutReaderFails) {
  OsHandle read_end = NO_OS_HANDLE, write_end = NO_OS_HANDLE;
  ASSERT_TRUE(create_pipe(read_end, write_end));
  close_handle(read_end);
  EXPECT_EQ(write_pipe(write_end, "body", 4, std::chrono::steady_clock::now() + 10s), -1);
  close_handle(write_end);
}

}  // namespace
}  // namespace zv
