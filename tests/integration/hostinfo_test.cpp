// Folder listings and sound output devices as the scripts receive them,
// through the real server and the real php-cgi.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/server_harness.h"

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

// Reports the listing's fields one a line: "D:" folders, "F:" files, in order.
constexpr const char* LISTING_SCRIPT = R"(<?php
header('Content-Type: text/plain');
echo "BEGIN\n";
foreach (explode('&', file_get_contents('php://input')) as $pair) {
    if ($pair === '') continue;
    list($name, $value) = explode('=', $pair, 2);
    echo ($name === 'dir[]' ? 'D:' : 'F:'), urldecode($value), "\n";
}
echo 'COUNT:', count(isset($_POST['dir']) ? $_POST['dir'] : array()), ',',
     count(isset($_POST['file']) ? $_POST['file'] : array()), "\n";
echo "END\n";
)";

// Reports every device slot as "i|guid|desc|drvname".
constexpr const char* DEVICES_SCRIPT = R"(<?php
header('Content-Type: text/plain');
function slots($field) { return isset($_POST[$field]) ? count($_POST[$field]) : 0; }
echo "BEGIN\n";
echo 'SLOTS:', slots('guid'), ',', slots('desc'), ',', slots('drvname'), "\n";
for ($i = 0; $i < slots('guid'); $i++) {
    echo $i, '|', $_POST['guid'][$i], '|', $_POST['desc'][$i], '|', $_POST['drvname'][$i], "\n";
}
echo "END\n";
)";

// A query value percent-encoded as PHP's rawurlencode writes it (the server
// keeps "+" as it is).
std::string query_value(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      out += escape;
    }
  }
  return out;
}

// The lines the script printed between BEGIN and END.
std::vector<std::string> script_lines(const std::string& reply) {
  std::vector<std::string> lines;
  const auto begin = reply.find("BEGIN\n");
  const auto end = reply.find("END\n", begin == std::string::npos ? 0 : begin);
  if (begin == std::string::npos || end == std::string::npos) return lines;
  std::istringstream body(reply.substr(begin + 6, end - begin - 6));
  for (std::string line; std::getline(body, line);) lines.push_back(line);
  return lines;
}

void make_file(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "x";
}

std::string get(const std::string& target) { return http_exchange("GET " + target + " HTTP/1.0\r\n\r\n"); }

class HostInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { station_.link_php_cgi(); }

  // Starts the server and waits until it listens.
  void start(std::optional<std::vector<std::string>> environment = std::nullopt) {
    server_.emplace(station_.server(), std::move(environment));
    ASSERT_TRUE(server_->wait_until_listening()) << server_->console();
  }

  Station station_;
  TempDir music_;
  std::optional<ServerProcess> server_;
};

TEST_F(HostInfoTest, RecursiveListingGivesScriptFullPathsInWalkOrder) {
  const fs::path folder = music_.path() / "Rock & Roll";
  make_file(folder / "Live" / "Song 1.mp3");
  make_file(folder / "Intro.mp3");
  make_file(folder / ".git" / "config");
  station_.write_script("x.php", LISTING_SCRIPT);
  start();

  const std::string reply = get("/x.php?dir=" + query_value(folder.string()) + "&recursive=");

  const std::string prefix = folder.string() + "/";
  const auto lines = script_lines(reply);
  ASSERT_EQ(lines.size(), 4u) << reply;
  const std::size_t live = lines[0] == "D:" + prefix + "Live" ? 0 : 1;
  EXPECT_EQ(lines[live], "D:" + prefix + "Live") << reply;
  EXPECT_EQ(lines[live + 1], "F:" + prefix + "Live/Song 1.mp3") << reply;
  EXPECT_EQ(lines[live == 0 ? 2 : 0], "F:" + prefix + "Intro.mp3") << reply;
  EXPECT_EQ(lines[3], "COUNT:1,2");

  for (const char* line :
       {"\nLive <DIR>\n", "\nSong 1.mp3\n", "\nIntro.mp3\n", "\n.git <DIR>\n", "\n. <DIR>\n", "\n.. <DIR>\n"})
    EXPECT_TRUE(server_->wait_for_console(line)) << line << server_->console();
  EXPECT_EQ(server_->console().find("\nconfig\n"), std::string::npos) << ".git is not entered";
}

TEST_F(HostInfoTest, PlainListingGivesNamesOnly) {
  make_file(music_.path() / "Rock" / "Song 1.mp3");
  make_file(music_.path() / "Intro.mp3");
  station_.write_script("x.php", LISTING_SCRIPT);
  start();

  // Separators in any mix, as an operator may type them.
  const std::string reply = get("/x.php?dir=" + query_value(music_.path().string() + "//"));

  auto lines = script_lines(reply);
  ASSERT_EQ(lines.size(), 3u) << reply;
  EXPECT_EQ(lines[2], "COUNT:1,1");
  lines.pop_back();
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"D:Rock", "F:Intro.mp3"}));
}

TEST_F(HostInfoTest, MissingFolderGivesScriptNoFields) {
  station_.write_script("x.php", LISTING_SCRIPT);
  start();

  const std::string reply = get("/x.php?dir=" + query_value((music_.path() / "gone").string()) + "&recursive=1");

  EXPECT_EQ(script_lines(reply), (std::vector<std::string>{"COUNT:0,0"})) << reply;
}

// An ALSA configuration of the test's own, so the devices are known.
class SoundDevicesThroughServerTest : public HostInfoTest {
 protected:
  void SetUp() override {
    HostInfoTest::SetUp();
    config_ = music_.path() / "asound.conf";
    std::ofstream(config_) << R"(pcm.!default { type null hint { show on description "Station default" } }
pcm.speakers { type null hint { show on description "Speakers & Headphones
Front" } }
pcm.mic { type null hint { show on description "Microphone|IOIDInput" } }
pcm.studio { type null hint { show on description "Studio out|IOIDOutput" } }
)";
  }

  // The server's whole environment: it needs nothing but its ALSA configuration.
  void start_with_devices() { start(std::vector<std::string>{"ALSA_CONFIG_PATH=" + config_.string()}); }

  fs::path config_;
};

// Name-based, so the same on every machine and after every restart.
constexpr const char* SPEAKERS_GUID = "d70712426d2eb7568583aceda4daa954";
constexpr const char* STUDIO_GUID = "81ecaf3c4feb8a5b842b13bd8acdde90";
const std::string ZERO_GUID(32, '0');

TEST_F(SoundDevicesThroughServerTest, ScriptReceivesTwentySlots) {
  station_.write_script("set_guid.php", DEVICES_SCRIPT);
  start_with_devices();

  const auto lines = script_lines(get("/set_guid.php"));

  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], "SLOTS:20,20,20");
  EXPECT_EQ(lines[1], std::string("0|") + SPEAKERS_GUID + "|Speakers & Headphones - Front|speakers");
  EXPECT_EQ(lines[2], std::string("1|") + STUDIO_GUID + "|Studio out|studio");
  for (int i = 2; i < 20; ++i) EXPECT_EQ(lines[i + 1], std::to_string(i) + "|" + ZERO_GUID + "||");
}

TEST_F(SoundDevicesThroughServerTest, OtherScriptsGetNoDeviceFields) {
  station_.write_script("sub/set_guid.php", DEVICES_SCRIPT);
  start_with_devices();

  const auto lines = script_lines(get("/sub/set_guid.php"));

  EXPECT_EQ(lines, (std::vector<std::string>{"SLOTS:0,0,0"}));
}

// The station's own pages, as the operator uses them.
class StationPagesTest : public SoundDevicesThroughServerTest {
 protected:
  void install_page(const std::string& name) {
    std::ifstream page(fs::path(ZV_SOURCE_DIR) / "station" / "www" / name);
    std::stringstream text;
    text << page.rdbuf();
    station_.write_script(name, text.str());
    fs::copy(fs::path(ZV_SOURCE_DIR) / "station" / "www" / "include", station_.www() / "include",
             fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  }
};

TEST_F(StationPagesTest, BrowseShowsFoldersFilesAndImportLinks) {
  make_file(music_.path() / "Rock & Roll" / "a.mp3");
  make_file(music_.path() / "Intro.mp3");
  install_page("browse.php");
  start();

  const std::string folder = music_.path().string() + "/";
  const std::string reply = get("/browse.php?dir=" + query_value(folder));

  EXPECT_NE(reply.find("Rock &amp; Roll/</a>"), std::string::npos) << reply;
  EXPECT_NE(reply.find("browse.php?dir=" + query_value(folder + "Rock & Roll")), std::string::npos) << reply;
  EXPECT_NE(reply.find("<td>Intro.mp3</td>"), std::string::npos) << reply;
  EXPECT_NE(reply.find("library.php?folder="), std::string::npos) << reply;
  EXPECT_EQ(reply.find("a.mp3"), std::string::npos) << "only the folder itself is listed";
  EXPECT_EQ(reply.find("http-equiv"), std::string::npos);

  // A folder typed into the form arrives as "open" with "+" for its spaces; the
  // page forwards it as the server's "dir", with %20.
  const std::string typed = get("/browse.php?open=" + query_value(folder) + "Rock+%26+Roll");
  EXPECT_EQ(forward_target(typed), "browse.php?dir=" + query_value(folder + "Rock & Roll")) << typed;
}

TEST_F(StationPagesTest, ChoosingADeviceStoresItForThePlayer) {
  install_page("set_guid.php");
  start_with_devices();

  const std::string page = get("/set_guid.php");
  EXPECT_NE(page.find("{421207D7-2E6D-56B7-8583-ACEDA4DAA954}"), std::string::npos) << page;
  EXPECT_NE(page.find("Speakers &amp; Headphones - Front"), std::string::npos) << page;
  EXPECT_NE(page.find(std::string("set_guid.php?choose=") + SPEAKERS_GUID), std::string::npos) << page;

  // A choice that does not come from the page (no token) changes nothing and
  // offers the same choice, as the page's own link.
  const std::string offered = link_target(page, std::string("set_guid.php?choose=") + SPEAKERS_GUID);
  const std::string planted = get(std::string("/set_guid.php?choose=") + SPEAKERS_GUID);
  EXPECT_NE(planted.find("id=\"confirm-change\""), std::string::npos) << planted;
  // The same choice: its token may end a second later, made a second later.
  const auto choice = [](const std::string& link) { return link.substr(0, link.find("&token=")); };
  EXPECT_EQ(choice(link_target(planted, "set_guid.php?choose=")), choice(offered)) << planted;
  EXPECT_NE(link_target(planted, "set_guid.php?choose=").find("&token="), std::string::npos) << planted;
  EXPECT_FALSE(fs::exists(station_.server() / "sound_device.txt"));

  const std::string choosing = get("/" + offered);
  const std::string chosen = get("/" + forward_target(choosing));
  EXPECT_NE(chosen.find("in use"), std::string::npos) << choosing << chosen;
  std::ifstream stored(station_.server() / "sound_device.txt");
  std::stringstream text;
  text << stored.rdbuf();
  EXPECT_EQ(text.str(), "{421207D7-2E6D-56B7-8583-ACEDA4DAA954}\nspeakers\nSpeakers & Headphones - Front\n");

  const std::string token = offered.substr(offered.find("&token="));
  const std::string unknown = get("/set_guid.php?choose=" + ZERO_GUID + token);
  EXPECT_NE(unknown.find("not present any more"), std::string::npos) << unknown;
}

}  // namespace
}  // namespace zv::testing
