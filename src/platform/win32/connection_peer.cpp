#include "platform/connection_peer.h"

#include <iphlpapi.h>
#include <windows.h>
#include <winsock2.h>

#include <vector>

// The connection's other end is found in the machine's TCP table with the
// process that owns it; that process's user is then compared with ours.

namespace zv {
namespace {

bool available = false;

struct Ends {
  sockaddr_in own{};
  sockaddr_in peer{};
};

// The process that owns the TCP socket whose own end is `local` and whose
// other end is `remote` (any remote when `remote` is null); 0 when none does.
DWORD owning_process(const sockaddr_in& local, const sockaddr_in* remote) {
  std::vector<unsigned char> table(16384);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(table.size());
    const DWORD result = GetExtendedTcpTable(table.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    if (result == ERROR_INSUFFICIENT_BUFFER) {
      table.resize(size + 4096);
      continue;
    }
    if (result != NO_ERROR) return 0;
    const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = rows->table[i];
      if (row.dwLocalAddr != local.sin_addr.s_addr || static_cast<u_short>(row.dwLocalPort) != local.sin_port) continue;
      if (remote &&
          (row.dwRemoteAddr != remote->sin_addr.s_addr || static_cast<u_short>(row.dwRemotePort) != remote->sin_port))
        continue;
      if (!remote && row.dwState != MIB_TCP_STATE_LISTEN) continue;
      return row.dwOwningPid;
    }
    return 0;
  }
  return 0;
}

std::vector<unsigned char> token_information(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> data(size);
  if (size == 0 || !GetTokenInformation(token, kind, data.data(), size, &size)) data.clear();
  return data;
}

std::vector<unsigned char> own_user() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  auto user = token_information(token, TokenUser);
  CloseHandle(token);
  return user;
}

std::string account_name(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) return {};
  char utf8[1024];
  const int length = WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
  return length > 0 ? std::string(utf8) : std::string();
}

// Whether the token's enabled groups hold the administrators.
bool is_administrator(HANDLE token) {
  const auto groups_data = token_information(token, TokenGroups);
  unsigned char administrators[SECURITY_MAX_SID_SIZE];
  DWORD administrators_size = sizeof administrators;
  if (groups_data.empty() ||
      !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administrators_size))
    return false;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groups_data.data());
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if ((groups->Groups[i].Attributes & SE_GROUP_ENABLED) && EqualSid(groups->Groups[i].Sid, administrators))
      return true;
  }
  return false;
}

}  // namespace

bool peer_check_available(SocketHandle listening, std::string& why) {
  Ends ends;
  int length = sizeof ends.own;
  if (getsockname(static_cast<SOCKET>(listening), reinterpret_cast<sockaddr*>(&ends.own), &length) != 0) {
    why = "the listener's address cannot be read";
    return false;
  }
  if (owning_process(ends.own, nullptr) != GetCurrentProcessId()) {
    why = "the machine's TCP table does not name the processes of its connections";
    return false;
  }
  available = true;
  return true;
}

PeerCheck check_connection_peer(SocketHandle connection) {
  if (!available) return {PeerUser::unchecked, {}};
  Ends ends;
  int own_length = sizeof ends.own;
  int peer_length = sizeof ends.peer;
  const SOCKET s = static_cast<SOCKET>(connection);
  if (getsockname(s, reinterpret_cast<sockaddr*>(&ends.own), &own_length) != 0 ||
      getpeername(s, reinterpret_cast<sockaddr*>(&ends.peer), &peer_length) != 0)
    return {PeerUser::unknown, "its address cannot be read"};
  const DWORD pid = owning_process(ends.peer, &ends.own);
  if (pid == 0) return {PeerUser::unknown, "its program has closed it"};
  if (pid == GetCurrentProcessId()) return {PeerUser::station, "this server"};
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  HANDLE token = nullptr;
  const bool opened = process && OpenProcessToken(process, TOKEN_QUERY, &token);
  if (process) CloseHandle(process);
  // Another user's process may not be looked into: that is itself the answer.
  if (!opened) return {PeerUser::unknown, "process " + std::to_string(pid) + " may not be looked into"};
  const auto user = token_information(token, TokenUser);
  const auto own = own_user();
  PeerCheck check{PeerUser::other, "process " + std::to_string(pid)};
  if (!user.empty()) {
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    const std::string name = account_name(sid);
    if (!name.empty()) check.who = "user " + name;
    const bool same = !own.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(own.data())->User.Sid);
    if (same || is_administrator(token)) check.user = PeerUser::station;
  }
  CloseHandle(token);
  return check;
}

}  // namespace zv
