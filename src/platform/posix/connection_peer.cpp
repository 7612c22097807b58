#include "platform/connection_peer.h"

#include <grp.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

// The kernel's socket diagnostics tell the user that opened the other end of
// a loopback connection (what `ss -e` shows as uid): it is looked up by the
// connection's two ends, from the peer's side.

namespace zv {
namespace {

std::atomic<bool> available{false};

struct Ends {
  sockaddr_in own{};   // this end: the listener's address and port
  sockaddr_in peer{};  // the peer's end
};

struct Answer {
  uid_t uid = 0;
  unsigned inode = 0;  // 0 when no program holds the socket any more
};

// One netlink socket for the process, opened with the listener and kept, so
// a connection adds no descriptor of its own; one question at a time.
std::mutex diag_lock;
int diag_fd = -1;

// Asks for the TCP socket whose own end is `source` and whose other end is
// `destination`. The kernel answers within the send; nothing waits here.
std::optional<Answer> diag_lookup(const sockaddr_in& source, const sockaddr_in& destination, int& error) {
  const std::lock_guard<std::mutex> held(diag_lock);
  if (diag_fd < 0) diag_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  const int fd = diag_fd;
  if (fd < 0) {
    error = errno;
    return std::nullopt;
  }
  static std::uint32_t sequence = 0;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.header.nlmsg_seq = ++sequence;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0u;
  message.request.id.idiag_sport = source.sin_port;
  message.request.id.idiag_dport = destination.sin_port;
  message.request.id.idiag_src[0] = source.sin_addr.s_addr;
  message.request.id.idiag_dst[0] = destination.sin_addr.s_addr;
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    error = errno;
    return std::nullopt;
  }
  alignas(nlmsghdr) char buffer[4096];
  for (;;) {
    const ssize_t received = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (received < 0) {
      error = errno == EAGAIN ? ETIMEDOUT : errno;
      return std::nullopt;
    }
    int left = static_cast<int>(received);
    for (auto* reply = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(reply, left); reply = NLMSG_NEXT(reply, left)) {
      if (reply->nlmsg_seq != message.header.nlmsg_seq) continue;  // an answer left from an earlier question
      if (reply->nlmsg_type == NLMSG_ERROR) {
        const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(reply));
        error = failure->error ? -failure->error : ENOENT;
        return std::nullopt;
      }
      if (reply->nlmsg_type == SOCK_DIAG_BY_FAMILY && reply->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(reply));
        return Answer{found->idiag_uid, found->idiag_inode};
      }
    }
  }
}

bool ends_of(int fd, Ends& ends) {
  socklen_t length = sizeof ends.own;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ends.own), &length) != 0 || ends.own.sin_family != AF_INET)
    return false;
  length = sizeof ends.peer;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&ends.peer), &length) == 0 && ends.peer.sin_family == AF_INET;
}

std::string user_name(uid_t uid) {
  std::vector<char> scratch(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &found) != 0 || !found) return {};
  return found->pw_name;
}

// Membership as the group database says it now, so an operator added to the
// group is served without anything being restarted. The operators' group is
// named as the server's user: its own group, made with it.
bool is_operator(uid_t uid) {
  const std::string operators_name = user_name(::geteuid());
  if (operators_name.empty()) return false;
  std::vector<char> scratch(16384);
  group group_entry{};
  group* operators = nullptr;
  if (::getgrnam_r(operators_name.c_str(), &group_entry, scratch.data(), scratch.size(), &operators) != 0 || !operators)
    return false;
  const gid_t operators_gid = operators->gr_gid;
  std::vector<char> user_scratch(16384);
  passwd entry{};
  passwd* user = nullptr;
  if (::getpwuid_r(uid, &entry, user_scratch.data(), user_scratch.size(), &user) != 0 || !user) return false;
  if (user->pw_gid == operators_gid) return true;
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i)
    if (groups[static_cast<std::size_t>(i)] == operators_gid) return true;
  return false;
}

// What the group database said of a user a moment ago: a page opens many
// connections, and reading the database costs more than the rest of the
// check. An operator added to the group is served a second later.
bool is_operator_lately(uid_t uid) {
  using Clock = std::chrono::steady_clock;
  struct Remembered {
    uid_t uid;
    bool answer;
    Clock::time_point when;
  };
  static std::mutex lock;
  static std::vector<Remembered> remembered;
  constexpr auto KEPT = std::chrono::seconds(1);
  const auto now = Clock::now();
  {
    const std::lock_guard<std::mutex> held(lock);
    for (const Remembered& r : remembered)
      if (r.uid == uid && now - r.when < KEPT) return r.answer;
  }
  const bool answer = is_operator(uid);
  const std::lock_guard<std::mutex> held(lock);
  std::erase_if(remembered, [&](const Remembered& r) { return r.uid == uid || now - r.when >= KEPT; });
  remembered.push_back({uid, answer, now});
  return answer;
}

}  // namespace

bool peer_check_available(SocketHandle listening, std::string& why) {
  sockaddr_in own{};
  socklen_t length = sizeof own;
  if (::getsockname(static_cast<int>(listening), reinterpret_cast<sockaddr*>(&own), &length) != 0) {
    why = std::generic_category().message(errno);
    return false;
  }
  // The listening socket itself, found from the side of a connection to it.
  int error = 0;
  const auto answer = diag_lookup(own, sockaddr_in{}, error);
  if (!answer || answer->uid != ::geteuid()) {
    why = answer ? "the kernel's socket diagnostics name another user for the listener"
                 : std::string("the kernel's socket diagnostics cannot be asked: ") +
                       std::generic_category().message(error);
    return false;
  }
  available = true;
  return true;
}

PeerCheck check_connection_peer(SocketHandle connection) {
  if (!available) return {PeerUser::unchecked, {}};
  Ends ends;
  if (!ends_of(static_cast<int>(connection), ends)) return {PeerUser::unknown, "its address cannot be read"};
  int error = 0;
  const auto answer = diag_lookup(ends.peer, ends.own, error);
  if (!answer) return {PeerUser::unknown, std::generic_category().message(error)};
  // A socket its program has closed reports no user of its own.
  if (answer->inode == 0) return {PeerUser::unknown, "its program has closed it"};
  const uid_t uid = answer->uid;
  std::string who = "user " + std::to_string(uid);
  if (uid == ::geteuid() || uid == 0 || is_operator_lately(uid)) return {PeerUser::station, who};
  if (const std::string name = user_name(uid); !name.empty()) who += " (" + name + ")";
  return {PeerUser::other, who};
}

}  // namespace zv
