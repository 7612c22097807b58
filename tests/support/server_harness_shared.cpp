// The parts of the harness that are the same on every platform.

#include "support/server_harness.h"

#include <fstream>
#include <thread>

namespace zv::testing {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

Station::Station() { fs::create_directories(www()); }

void Station::write_script(const std::string& relative, const std::string& text) const {
  const fs::path file = www() / relative;
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

bool ServerProcess::wait_for_console(const std::string& text, std::chrono::milliseconds timeout, int times) const {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (count_of(console(), text) >= times) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
}

bool ServerProcess::wait_until_listening(std::chrono::milliseconds timeout) {
  return wait_for_console("Waiting for client to connect...\n", timeout);
}

int count_of(const std::string& text, const std::string& needle) {
  if (needle.empty()) return 0;
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

namespace {

// The URL from `start` in `page` up to its closing quote, with "&amp;" read as
// "&"; "" when `start` is npos.
std::string quoted_url_from(const std::string& page, std::string::size_type start) {
  if (start == std::string::npos) return "";
  std::string url = page.substr(start, page.find('"', start) - start);
  for (auto amp = url.find("&amp;"); amp != std::string::npos; amp = url.find("&amp;", amp + 1)) url.erase(amp + 1, 4);
  return url;
}

}  // namespace

std::string forward_target(const std::string& page) {
  const std::string marker = "http-equiv=\"refresh\" content=\"0; url=";
  const auto at = page.find(marker);
  return quoted_url_from(page, at == std::string::npos ? at : at + marker.size());
}

std::string link_target(const std::string& page, const std::string& start) {
  const auto at = page.find("href=\"" + start);
  return quoted_url_from(page, at == std::string::npos ? at : at + 6);
}

}  // namespace zv::testing
