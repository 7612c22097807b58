// Only the station's people are served: a program run by another user of
// the machine gets the 404 text, and nothing is gathered or run for it; an
// operator (a member of the station's group) and root are served.

#include "support/server_harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zv::testing {
namespace {

const std::string HEADER_404 = "HTTP/1.0 404 Not Found\nServer: ZentavioInternetTV\n\n";

// System users made for one test run, named after the run so parallel runs
// never share them, and removed with their groups when it ends.
class TestUsers {
 public:
  ~TestUsers() {
    for (auto name = made_.rbegin(); name != made_.rend(); ++name)
      std::system(("userdel " + *name + " >/dev/null 2>&1").c_str());
  }

  std::string name_of(const std::string& role) const { return "zv-test-" + role + "-" + std::to_string(::getpid()); }

  // Makes the user, with a group of its own, and in the group of `member_of`
  // when one is named; its uid and primary group, uid 0 when it fails.
  std::pair<uid_t, gid_t> make(const std::string& role, const std::string& member_of = "") {
    const std::string name = name_of(role);
    std::string command = "useradd --system --user-group --no-create-home --shell /usr/sbin/nologin " + name;
    if (!member_of.empty()) command += " && usermod -a -G " + name_of(member_of) + " " + name;
    if (std::system(("(" + command + ") >/dev/null 2>&1").c_str()) != 0) return {0, 0};
    made_.push_back(name);
    const passwd* user = ::getpwnam(name.c_str());
    return user ? std::make_pair(user->pw_uid, user->pw_gid) : std::make_pair(uid_t{0}, gid_t{0});
  }

 private:
  std::vector<std::string> made_;
};

// Sends `request` from a process of the given user; the whole reply.
std::string exchange_as(std::pair<uid_t, gid_t> user, const std::string& request) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(user.second) != 0 || ::setuid(user.first) != 0) ::_exit(1);
    const std::string reply = http_exchange(request, 20s);
    const bool written = ::write(pipe_ends[1], reply.data(), reply.size()) == static_cast<ssize_t>(reply.size());
    ::_exit(written ? 0 : 1);
  }
  ::close(pipe_ends[1]);
  std::string reply;
  char piece[4096];
  for (ssize_t n; (n = ::read(pipe_ends[0], piece, sizeof piece)) > 0;) reply.append(piece, static_cast<size_t>(n));
  ::close(pipe_ends[0]);
  ::waitpid(child, nullptr, 0);
  return reply;
}

TEST(PeerUser, AnotherUserGetsTheNotFoundTextWhileOperatorsAndRootAreServed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to run the server and its clients as other users";
  TestUsers users;
  const auto station_user = users.make("station");
  const auto operator_ = users.make("operator", "station");
  const auto stranger = users.make("stranger");
  if (!station_user.first || !operator_.first || !stranger.first) GTEST_SKIP() << "useradd could not make the users";
  Station station;
  station.link_php_cgi();
  station.write_script("page.php", "<?php echo 'ran';");
  const auto music = station.root.path() / "music";
  std::filesystem::create_directories(music);
  std::ofstream(music / "song.wav") << "RIFF";
  const std::string as_station = "setpriv --reuid=" + std::to_string(station_user.first) +
                                 " --regid=" + std::to_string(station_user.second) + " --clear-groups ";
  const auto server_program = station.root.path() / "server-as-station";
  std::ofstream(server_program) << "#!/bin/sh\nexec " << as_station << ZV_SERVER_BINARY << "\n";
  ASSERT_EQ(
      std::system(("chmod -R a+rX '" + station.root.path().string() + "' && chmod a+x '" + server_program.string() +
                   "' && chown " + std::to_string(station_user.first) + " '" + station.server().string() + "'")
                      .c_str()),
      0);
  ServerProcess server(station.server(), std::nullopt, server_program.c_str());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();

  const std::string import = "page.php?add_dir=" + music.string() + "/&is_ads=0&is_jingle=0";
  for (const std::string& query : {std::string("page.php"), import, std::string("playlist.php?item0=1")}) {
    SCOPED_TRACE(query);
    EXPECT_EQ(exchange_as(stranger, "GET /" + query + " HTTP/1.0\r\n\r\n"), HEADER_404);
  }
  const std::string refused = "runs as user " + std::to_string(stranger.first) + " (" + users.name_of("stranger") +
                              "), not as the station's user, root or an operator";
  EXPECT_EQ(count_of(server.console(), refused), 3) << server.console();
  EXPECT_EQ(server.console().find("ODBC"), std::string::npos) << "nothing imported or looked up";
  EXPECT_FALSE(std::filesystem::exists(station.server() / "out.txt"));

  EXPECT_NE(exchange_as(operator_, "GET /page.php HTTP/1.0\r\n\r\n").find("ran"), std::string::npos);
  EXPECT_NE(http_exchange("GET /page.php HTTP/1.0\r\n\r\n").find("ran"), std::string::npos) << "root";
}

// A socket whose program has closed it reports no user of its own (the
// kernel shows root for it): such a connection is refused, not served.
TEST(PeerUser, AConnectionWhoseProgramClosedItsEndIsRefused) {
  Station station;
  station.link_php_cgi();
  station.write_script("slow.php", "<?php sleep(1); echo 'slow';");
  station.write_script("page.php", "<?php echo 'ran';");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  // The first connection holds the server while the second one is closed.
  std::thread slow([] { http_exchange("GET /slow.php HTTP/1.0\r\n\r\n"); });
  ASSERT_TRUE(server.wait_for_console("GET /slow.php")) << server.console();
  const int fd = connect_to_server();
  ASSERT_TRUE(send_all(fd, "GET /page.php?add_dir=/srv HTTP/1.0\r\n\r\n"));
  ::close(fd);
  slow.join();
  EXPECT_TRUE(server.wait_for_console("the user at its other end cannot be told: its program has closed it"))
      << server.console();
  EXPECT_EQ(server.console().find("ODBC"), std::string::npos) << server.console();
}

// Where the kernel cannot be asked (as without socket diagnostics: here no
// netlink socket may be made), the server says so at start and serves every
// local program, as before.
TEST(PeerUser, WithoutSocketDiagnosticsTheServerSaysSoAndServesAsBefore) {
  Station station;
  station.link_php_cgi();
  station.write_script("page.php", "<?php echo 'ran';");
  const std::string console = (station.root.path() / "console.txt").string();
  const std::string folder = station.server().string();
  const pid_t server = ::fork();
  if (server == 0) {
    sock_filter no_netlink[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAFNOSUPPORT),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog filter{sizeof no_netlink / sizeof no_netlink[0], no_netlink};
    const int out = ::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || ::dup2(out, 1) < 0 || ::chdir(folder.c_str()) != 0 ||
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
      ::_exit(126);
    ::execl(ZV_SERVER_BINARY, ZV_SERVER_BINARY, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto read_console = [&] {
    std::ifstream in(console);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  for (int i = 0; i < 200 && read_console().find("Waiting for client") == std::string::npos; ++i)
    std::this_thread::sleep_for(50ms);
  EXPECT_NE(http_exchange("GET /page.php HTTP/1.0\r\n\r\n").find("ran"), std::string::npos);
  ::kill(server, SIGKILL);
  ::waitpid(server, nullptr, 0);
  EXPECT_NE(read_console().find("The server cannot tell which user runs the program at the other end of a "
                                "connection (the kernel's socket diagnostics cannot be asked: Address family not "
                                "supported by protocol): it serves every program of this machine\n"),
            std::string::npos)
      << read_console();
}

}  // namespace
}  // namespace zv::testing
