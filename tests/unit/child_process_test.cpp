#include "platform/child_process.h"
#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>

namespace zv {
namespace {

using std::chrono::steady_clock;

// Writes until the pipe takes no more; the total written.
long fill(OsHandle write_end, const std::string& data, Deadline deadline) {
  long total = 0;
  for (;;) {
    const int written = write_pipe(write_end, data.data(), static_cast<std::uint32_t>(data.size()), deadline);
    if (written <= 0) return total;
    total += written;
  }
}

TEST(ChildProcessTest, WriteIntoAPipeNobodyReadsEndsAtTheDeadline) {
  OsHandle read_end = NO_OS_HANDLE, write_end = NO_OS_HANDLE;
  ASSERT_TRUE(create_pipe(read_end, write_end));
  const std::string data(1 << 20, 'x');
  const long total = fill(write_end, data, steady_clock::now() + std::chrono::milliseconds(200));
  EXPECT_GT(total, 0);
  EXPECT_LT(total, static_cast<long>(data.size()));  // what the pipe holds, no more
  close_handle(read_end);
  close_handle(write_end);
  EXPECT_EQ(write_end, NO_OS_HANDLE);
}

TEST(ChildProcessTest, WriteIntoAPipeWithoutReaderFails) {
  console_setup();  // a broken pipe is an error to report, not a reason to stop
  OsHandle read_end = NO_OS_HANDLE, write_end = NO_OS_HANDLE;
  ASSERT_TRUE(create_pipe(read_end, write_end));
  close_handle(read_end);
  EXPECT_EQ(write_pipe(write_end, "abc", 3, Deadline::max()), -1);
  close_handle(write_end);
}

TEST(ChildProcessTest, ProgramThatDoesNotExistIsNotStarted) {
  OsHandle read_end = NO_OS_HANDLE, write_end = NO_OS_HANDLE;
  ASSERT_TRUE(create_pipe(read_end, write_end));
  ChildProcess child;
  EXPECT_FALSE(create_process(u"no-such-folder/php-cgi.exe", u"A=1\0\0", read_end, 0, child));
  EXPECT_EQ(child.process, NO_OS_HANDLE);
  EXPECT_TRUE(wait_process(child, steady_clock::now()));  // nothing to wait for
  close_handle(read_end);
  close_handle(write_end);
}

}  // namespace
}  // namespace zv
