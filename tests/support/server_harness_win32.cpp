// The integration harness on Windows: the same interface as on Linux, with the
// server started by CreateProcessW and its console captured in a file.
// Console text is read with CR LF turned into LF, as the C runtime writes
// every "\n" of the narration as CR LF.

#include "support/server_harness.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <thread>

namespace zv::testing {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
std::wstring wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

bool winsock_ready() {
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

HANDLE process_of(int pid) { return OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(pid)); }

// The server and the stand-in are built into the same folder as the tests.
fs::path executable_folder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}
}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    path_ = fs::temp_directory_path() / ("zv-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                         std::to_string(GetTickCount64()) + "-" + std::to_string(counter++));
    if (fs::create_directory(path_)) return;
  }
}

std::vector<std::string> short_limits_environment() {
  std::vector<std::string> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry; entry += std::wcslen(entry) + 1) {
      const int size = WideCharToMultiByte(CP_UTF8, 0, entry, -1, nullptr, 0, nullptr, nullptr);
      std::string text(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
      WideCharToMultiByte(CP_UTF8, 0, entry, -1, text.data(), size, nullptr, nullptr);
      entries.push_back(text);
    }
    FreeEnvironmentStringsW(block);
  }
  entries.emplace_back("ZV_TEST_LIMIT_DIVISOR=10");
  return entries;
}

void Station::link_php_cgi() const {
  // No PHP for Windows here: the stand-in built beside the tests takes its place.
  fs::create_directories(root.path() / "php");
  fs::copy_file(executable_folder() / "cgi_stand_in.exe", root.path() / "php" / "php-cgi.exe",
                fs::copy_options::overwrite_existing);
}

ServerProcess::ServerProcess(const fs::path& working_dir, std::optional<std::vector<std::string>> environment,
                             const char* program, bool /*with_standard_input*/) {
  console_file_ = console_dir_.path() / "console.txt";
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE console = CreateFileW(console_file_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                             0, nullptr);
  std::wstring block;
  if (environment) {
    for (const auto& entry : *environment) block += wide(entry) + L'\0';
    block += L'\0';
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = console;
  startup.hStdError = console;
  PROCESS_INFORMATION started{};
  const std::wstring server = program ? fs::path(program).wstring() : (executable_folder() / "zv-php-server.exe").wstring();
  if (CreateProcessW(server.c_str(), nullptr, nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                     environment ? block.data() : nullptr, working_dir.c_str(), &startup, &started)) {
    pid_ = static_cast<int>(started.dwProcessId);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
  CloseHandle(console);
  CloseHandle(input);
}

ServerProcess::~ServerProcess() {
  if (pid_ <= 0 || exited_) return;
  HANDLE process = process_of(pid_);
  if (!process) return;
  TerminateProcess(process, 137);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
}

std::string ServerProcess::console() const {
  std::ifstream in(console_file_, std::ios::binary);
  std::stringstream read;
  read << in.rdbuf();
  std::string text = read.str();
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
  return lines;
}

std::optional<int> ServerProcess::wait_exit(std::chrono::milliseconds timeout) {
  HANDLE process = process_of(pid_);
  if (!process) return std::nullopt;
  std::optional<int> status;
  DWORD code = 0;
  if (WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process, &code)) {
    exited_ = true;
    status = static_cast<int>(code);
  }
  CloseHandle(process);
  return status;
}

long ServerProcess::cpu_ticks() const {
  HANDLE process = process_of(pid_);
  FILETIME created, ended, kernel, user;
  const bool known = process && GetProcessTimes(process, &created, &ended, &kernel, &user);
  if (process) CloseHandle(process);
  if (!known) return -1;
  auto hundred_ns = [](const FILETIME& t) { return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return static_cast<long>((hundred_ns(kernel) + hundred_ns(user)) / 100000);  // 100 ticks a second
}

int connect_to_server(std::chrono::milliseconds timeout) {
  if (!winsock_ready()) return -1;
  const auto deadline = Clock::now() + timeout;
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(8080);
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (;;) {
    // Not inherited: a test's own sockets must not reach the server's children.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (connect(s, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) return static_cast<int>(s);
    closesocket(s);
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(10ms);
  }
}

bool send_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const int n = send(static_cast<SOCKET>(fd), data.data() + done, static_cast<int>(data.size() - done), 0);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string read_until_closed(int fd, std::chrono::milliseconds timeout, std::chrono::milliseconds pause) {
  const auto deadline = Clock::now() + timeout;
  std::string reply;
  char chunk[65536];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(fd), &readable);
    timeval wait{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
    const int n = recv(static_cast<SOCKET>(fd), chunk, sizeof chunk, 0);
    if (n <= 0) break;
    reply.append(chunk, static_cast<std::size_t>(n));
    std::this_thread::sleep_for(pause);
  }
  return reply;
}

std::string http_exchange(const std::string& request, std::chrono::milliseconds timeout) {
  const int fd = connect_to_server();
  if (fd < 0) return {};
  if (!request.empty()) send_all(fd, request);
  std::string reply = read_until_closed(fd, timeout);
  closesocket(static_cast<SOCKET>(fd));
  return reply;
}

}  // namespace zv::testing
