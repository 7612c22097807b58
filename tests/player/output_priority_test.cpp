// The sound card's pipeline runs its threads at real-time priority, and gives
// them back to GStreamer's shared pool at ordinary priority, so later work on
// them (a song measured for the backlog) is never raised above the machine.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "program_output.h"
#include "program_source.h"

namespace zv::player {
namespace {

// Threads of this process scheduled other than the ordinary way (the policy
// field of their /proc stat file).
int raised_threads() {
  int raised = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream stat(task.path() / "stat");
    std::string line;
    std::getline(stat, line);
    if (line.rfind(')') == std::string::npos) continue;  // a thread that ended meanwhile
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 41 && fields >> field; ++i) {
      if (i == 41 && field != "0") ++raised;
    }
  }
  return raised;
}

bool within(std::chrono::seconds limit, const std::function<bool()>& done) {
  for (const auto until = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < until;) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(OutputPriority, ACardsThreadsGoBackToThePoolAtOrdinaryPriority) {
  const std::vector<float> silence(4800 * 2, 0.0f);
  const auto play = [&](bool real_time) {
    auto output = ProgramOutput::make("audioconvert ! fakesink sync=true", PROGRAM_RATE, 1.0, 0, {}, real_time);
    output->start([] {});
    return output;
  };
  auto card = play(true);
  const bool raised = within(std::chrono::seconds(5), [&] {
    card->push(silence.data(), silence.size() / 2);
    return raised_threads() > 0;
  });
  if (!raised) GTEST_SKIP() << "real-time priority is refused here";
  card.reset();
  // Another pipeline at once takes the threads the card's gave back.
  auto other = play(false);
  ASSERT_TRUE(within(std::chrono::seconds(5), [&] {
    other->push(silence.data(), silence.size() / 2);
    return other->playing();
  }));
  EXPECT_EQ(raised_threads(), 0);
}

}  // namespace
}  // namespace zv::player
