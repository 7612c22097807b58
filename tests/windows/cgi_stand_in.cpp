// Stands in for the PHP interpreter where none exists: writes its whole
// environment block and the body it reads from standard input back to
// standard output, as a plain-text reply, and one line to standard error.
// "sleep_ms=N" in QUERY_STRING makes it wait N ms before it answers;
// "start_child" makes it start a copy of itself that waits a minute with the
// same standard handles, and report that copy's process id ("child: N").

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

void write_all(HANDLE out, const std::string& text) {
  DWORD done = 0;
  for (std::size_t at = 0; at < text.size(); at += done) {
    if (!WriteFile(out, text.data() + at, static_cast<DWORD>(text.size() - at), &done, nullptr) || done == 0) return;
  }
}

std::string utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
  bytes.pop_back();
  return bytes;
}

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The interpreter's input never ends while it runs: only CONTENT_LENGTH says
// how much of it is the body.
std::string read_body(std::size_t length) {
  std::string body(length, '\0');
  std::size_t have = 0;
  while (have < length) {
    DWORD got = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), body.data() + have, static_cast<DWORD>(length - have), &got,
                  nullptr) ||
        got == 0)
      break;
    have += got;
  }
  body.resize(have);
  return body;
}

// A copy of this program, run with "wait": what a script leaves running.
DWORD start_waiting_child() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" wait";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(self, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) return 0;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return started.dwProcessId;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "wait") {
    Sleep(60000);
    return 0;
  }
  const std::string query = variable("QUERY_STRING");
  const auto sleep_at = query.find("sleep_ms=");
  if (sleep_at != std::string::npos) Sleep(static_cast<DWORD>(std::atoi(query.c_str() + sleep_at + 9)));

  std::string reply = "Content-Type: text/plain\n\n";
  if (query.find("start_child") != std::string::npos) reply += "child: " + std::to_string(start_waiting_child()) + "\n";
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) reply += "env: " + utf8(entry) + "\n";
  FreeEnvironmentStringsW(block);
  reply += "body: " + read_body(std::strtoul(variable("CONTENT_LENGTH").c_str(), nullptr, 10)) + "\n";

  write_all(GetStdHandle(STD_OUTPUT_HANDLE), reply);
  write_all(GetStdHandle(STD_ERROR_HANDLE), "stderr: stand-in\n");
  return 0;
}
