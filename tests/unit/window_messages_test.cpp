// Windows found by title and WM_COPYDATA delivered to them.

#include "platform/window_messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/receiving_window.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zv {
namespace {

using test::PrivateWindowFolder;
using test::ReceivingWindow;

TEST(WindowMessages, WindowIsFoundByItsTitleWhileItIsOpen) {
  PrivateWindowFolder folder;
  WindowHandle found = 0;
  {
    ReceivingWindow window(u"Station Test Window: ä/ü");
    ASSERT_NE(window.handle(), 0u);
    found = find_window(u"Station Test Window: ä/ü");
    EXPECT_EQ(found, window.handle());
    EXPECT_EQ(find_window(u"Station Test Window"), 0u);
#ifndef _WIN32
    // Windows has untitled windows of its own and lets windows share a title.
    EXPECT_EQ(find_window(u""), 0u);
    // A second window cannot take a title that a live window bears.
    EXPECT_EQ(create_window(u"Station Test Window: ä/ü", nullptr), 0u);
#endif
  }
  EXPECT_EQ(find_window(u"Station Test Window: ä/ü"), 0u);
  EXPECT_EQ(send_copy_data(found, 0, 1, 1, nullptr, 1000), SendResult::failed);
}

TEST(WindowMessages, MessageCarriesSenderDataAndAnswer) {
  PrivateWindowFolder folder;
  ReceivingWindow receiver(u"Receiver", 77);
  ReceivingWindow sender(u"Sender");
  const WindowHandle window = find_window(u"Receiver");
  ASSERT_NE(window, 0u);
  const char16_t path[] = u"/music/a b.mp3";
  std::int64_t answer = 0;
  EXPECT_EQ(send_copy_data(window, sender.handle(), 1001, sizeof path, path, 5000, &answer), SendResult::answered);
  EXPECT_EQ(answer, 77);
  EXPECT_EQ(send_copy_data(window, sender.handle(), 1002, 1, nullptr, 5000), SendResult::answered);

  const auto messages = receiver.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].sender, sender.handle());
  EXPECT_EQ(messages[0].dw_data, 1001u);
  EXPECT_EQ(messages[0].cb_data, sizeof path);
  EXPECT_TRUE(messages[0].has_data);
  EXPECT_EQ(messages[0].text(), u"/music/a b.mp3");
  EXPECT_EQ(messages[1].dw_data, 1002u);
  EXPECT_EQ(messages[1].cb_data, 1u);
  EXPECT_FALSE(messages[1].has_data);
  EXPECT_TRUE(sender.messages().empty());
}

TEST(WindowMessages, UnansweredMessageEndsAtItsTimeout) {
  PrivateWindowFolder folder;
  ReceivingWindow hung(u"Hung", 1, false);
  const WindowHandle window = find_window(u"Hung");
  ASSERT_NE(window, 0u);
  EXPECT_EQ(send_copy_data(window, 0, 1002, 1, nullptr, 200), SendResult::timed_out);
  EXPECT_TRUE(hung.messages().empty());
}

#ifndef _WIN32
TEST(WindowMessages, WindowOfAnEndedProcessIsNotFoundAndItsTitleIsFree) {
  PrivateWindowFolder folder;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(create_window(u"Ended", nullptr) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(std::filesystem::exists(folder.path() / "Ended"));  // left behind

  EXPECT_EQ(find_window(u"Ended"), 0u);
  ReceivingWindow again(u"Ended");
  EXPECT_NE(again.handle(), 0u);
  EXPECT_EQ(find_window(u"Ended"), again.handle());
}

// Another program of the user connects and never sends its frame: the
// window's other senders are served all the same.
TEST(WindowMessages, ASilentConnectionHoldsUpNoOtherSender) {
  PrivateWindowFolder folder;
  ReceivingWindow receiver(u"Receiver", 5);
  const WindowHandle window = find_window(u"Receiver");
  ASSERT_NE(window, 0u);
  std::vector<int> silent;
  for (int i = 0; i < 2; ++i) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (folder.path() / "Receiver").string();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::send(fd, "ZV", 2, 0);  // the frame begun, never finished
    silent.push_back(fd);
  }
  // Well inside the 5 s a silent sender is given.
  EXPECT_EQ(send_copy_data(window, 0, 1002, 1, nullptr, 1000), SendResult::answered);
  EXPECT_EQ(receiver.messages().size(), 1u);
  for (const int fd : silent) ::close(fd);
}

TEST(WindowMessages, FolderOthersMayEnterIsRefused) {
  PrivateWindowFolder folder;
  std::filesystem::create_directory(folder.path());
  ::chmod(folder.path().c_str(), 0755);
  EXPECT_EQ(create_window(u"Exposed", nullptr), 0u);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "Exposed"));
  ::chmod(folder.path().c_str(), 0700);
  ReceivingWindow window(u"Exposed");
  EXPECT_NE(window.handle(), 0u);
  ::chmod(folder.path().c_str(), 0750);
  EXPECT_EQ(find_window(u"Exposed"), 0u);
  ::chmod(folder.path().c_str(), 0700);
}

TEST(WindowMessages, EndpointIsNamedByTheEncodedTitleInAPrivateFolder) {
  PrivateWindowFolder folder;
  ReceivingWindow window(u"Zentavio Player");
  struct stat info {};
  ASSERT_EQ(::stat(folder.path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(std::filesystem::is_socket(folder.path() / "Zentavio%20Player"));
}

// Started by hand with no folder named, the windows meet in the working
// directory (the server folder), never in /tmp.
TEST(WindowMessages, WithoutAFolderNamedTheWindowsMeetInTheWorkingDirectory) {
  PrivateWindowFolder scratch;  // a fresh folder, and ZV_WINDOW_DIR restored after
  ::unsetenv("ZV_WINDOW_DIR");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string kept_runtime = runtime ? runtime : "";
  ::unsetenv("XDG_RUNTIME_DIR");
  const auto kept_directory = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path().parent_path());
  {
    ReceivingWindow window(u"Hand Started");
    EXPECT_NE(find_window(u"Hand Started"), 0u);
    EXPECT_TRUE(std::filesystem::is_socket(scratch.path().parent_path() / "zv-windows" / "Hand%20Started"));
  }
  std::filesystem::current_path(kept_directory);
  if (!kept_runtime.empty()) ::setenv("XDG_RUNTIME_DIR", kept_runtime.c_str(), 1);
}
#endif

}  // namespace
}  // namespace zv
