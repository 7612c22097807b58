// What a thread narrates inside a batch reaches the console in one write, in
// order, each message whole; outside one, at once.

#ifndef _WIN32

#include "platform/narration_batch.h"
#include "platform/console.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// Standard output on a non-blocking pipe while the object lives.
class ConsolePipe {
 public:
  ConsolePipe() {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    ::pipe2(ends_, O_NONBLOCK);
    ::dup2(ends_[1], STDOUT_FILENO);
  }
  ~ConsolePipe() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    for (const int fd : {saved_, ends_[0], ends_[1]}) ::close(fd);
  }
  // What one read finds in the pipe now.
  std::string read_once() const {
    char chunk[4096];
    const ssize_t got = ::read(ends_[0], chunk, sizeof chunk);
    return got > 0 ? std::string(chunk, static_cast<std::size_t>(got)) : std::string();
  }

 private:
  int saved_ = -1;
  int ends_[2] = {-1, -1};
};

TEST(NarrationBatchTest, BatchGoesOutInOneWriteAtFlushAndAtItsEnd) {
  const ConsolePipe console;
  zv::narrate("alone %d\n", 1);
  EXPECT_EQ(console.read_once(), "alone 1\n");
  {
    const zv::NarrationBatch batch;
    zv::narrate("\n---> one\n");
    zv::narrate("two %s\n", "b");
    EXPECT_EQ(console.read_once(), "");  // held until the thread waits
    zv::flush_narration();
    EXPECT_EQ(console.read_once(), "\n---> one\ntwo b\n");
    zv::narrate("three\n");
  }
  EXPECT_EQ(console.read_once(), "three\n");
}

}  // namespace

#endif
