#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/library_fixture.h"
#include "support/server_harness.h"

namespace zv::testing {
namespace {

namespace fs = std::filesystem;

std::string percent_encoded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

void make_file(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "sound";
}

// An import asked for by a page request lands in the library before the page
// runs, and the page is still served.
TEST(LibraryImport, AddDirOfAPageRequestImportsTheFolder) {
  Station station;
  station.link_php_cgi();
  station.write_script("x.php", "<?php echo 'page ran';");
  ASSERT_TRUE(test::make_library(station.server()));
  const fs::path jingles = station.root.path() / "Jingle Box & Co";
  make_file(jingles / "intro.mp3");
  make_file(jingles / "night" / "outro.wav");
  make_file(jingles / "cover.jpg");

  ServerProcess server(station.server());  // the test's environment names the ODBC registration
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const std::string reply =
      http_exchange("GET /x.php?add_dir=" + percent_encoded(jingles.string()) + "&is_jingle=1 HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.0 200 OK\n")) << reply;
  EXPECT_TRUE(reply.ends_with("page ran")) << reply;
  ASSERT_TRUE(server.wait_for_console("\n---> Exit socket_accept_mt\n")) << server.console();

  const std::string dir = jingles.string() + "/";
  EXPECT_EQ(test::library_sql(station.server(),
                              "select dir_order, is_playlist, is_ads, is_jingle, dir_name, dir_bgcolor from song_dir"),
            "1|0|0|1|" + dir + "|3145645\n");
  EXPECT_EQ(test::library_sql(station.server(), "select song_dir_id, song_name from song order by song_id"),
            "1|" + dir + "intro.mp3\n1|" + dir + "night/outro.wav\n");
  EXPECT_TRUE(fs::exists(station.server() / "out.txt"));
  EXPECT_EQ(fs::file_size(station.server() / "out.txt"), 2 * (dir + "intro.mp3\n" + dir + "night/outro.wav\n").size());
  const std::string console = server.console();
  EXPECT_EQ(count_of(console, "Direct ODBC: Successfully connected to database."), 1) << console;
  EXPECT_EQ(count_of(console, "cover.jpg\n"), 2) << console;
  EXPECT_EQ(count_of(console, "Error in SQL"), 0) << console;
}

// A folder named through "." or ".." is not imported: the library would
// hold a second name of the same folder.
TEST(LibraryImport, AFolderWithADotSegmentIsRefusedAndSaidSo) {
  Station station;
  station.link_php_cgi();
  station.write_script("x.php", "<?php echo 'page ran';");
  ASSERT_TRUE(test::make_library(station.server()));
  make_file(station.root.path() / "B" / "song.mp3");
  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const std::string folder = station.root.path().string() + "/A/../B/";
  EXPECT_TRUE(http_exchange("GET /x.php?add_dir=" + folder + " HTTP/1.0\r\n\r\n").ends_with("page ran"));
  ASSERT_TRUE(server.wait_for_console("\n---> Exit socket_accept_mt\n")) << server.console();
  EXPECT_NE(server.console().find("\n---> Not imported: the folder " + folder +
                                  " has a \".\" or \"..\" segment; the library keeps one name a folder\n"),
            std::string::npos)
      << server.console();
  EXPECT_EQ(test::library_sql(station.server(), "select count(*) from song_dir"), "0\n");
}

// The station's library page reads the library through the connection string
// the server hands to the interpreter, from the interpreter's own folder.
TEST(LibraryImport, LibraryPageShowsFoldersWithMarksAndColours) {
  Station station;
  ASSERT_TRUE(test::make_library(station.server()));
  fs::copy_file(fs::path(ZV_SOURCE_DIR) / "station/www/library.php", station.www() / "library.php");
  fs::copy(fs::path(ZV_SOURCE_DIR) / "station/www/include", station.www() / "include", fs::copy_options::recursive);
  // The folder as the server imported it: on the disk, and in the library.
  const fs::path folder = station.root.path() / "Rock & Roll";
  make_file(folder / "a.mp3");
  make_file(folder / "sub/b.mp3");  // the check finds songs below the folder too
  const std::string stored = folder.string() + "/";
  const std::string shown = station.root.path().string() + "/Rock &amp; Roll";
  test::library_sql(station.server(),
                    "insert into song_dir (dir_order, is_playlist, is_ads, is_jingle, dir_name, play_count, dir_color, "
                    "dir_bgcolor) values (1, 0, 1, 0, '" +
                        stored +
                        "', 2, '16711680', '42495');"
                        "insert into song (song_dir_id, song_name) values (1, '" +
                        stored + "a.mp3'), (1, '" + stored + "sub/b.mp3');");

  auto run_page = [&](const std::string& query) { return test::run_page(station.server(), "library.php", query); };
  // The import request forwards to its outcome, which the page reads back
  // from the disk and the library.
  auto outcome_of = [&](const std::string& query) {
    const std::string target = forward_target(run_page(query));
    return run_page(target.substr(target.find('?') + 1));
  };
  std::string output = outcome_of("add_dir=" + percent_encoded(folder.string()) + "&is_ads=1&known=0");
  EXPECT_NE(output.find("Imported 2 songs from " + shown + " (2 songs of this folder in the library)."),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("not imported"), std::string::npos) << output;
  EXPECT_NE(output.find("style=\"color: #0000FF; background: #FFA500"), std::string::npos) << output;
  EXPECT_NE(output.find(">" + shown + "/</a></td>"), std::string::npos) << output;
  EXPECT_NE(output.find("<td class=\"marks\">advertising</td>\n<td class=\"number\">2</td>"), std::string::npos)
      << output;

  // A folder the server found nothing in is not reported as imported.
  fs::create_directories(station.root.path() / "empty");
  output = outcome_of("add_dir=" + percent_encoded((station.root.path() / "empty").string()) + "&is_jingle=1&known=0");
  EXPECT_NE(output.find(" holds no .mp3 or .wav files."), std::string::npos) << output;
  // The page never makes a library of its own in the folder it runs in.
  EXPECT_FALSE(fs::exists(station.www() / "base2.mdb"));
}

std::string hex_of(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", c);
    out += digits;
  }
  return out;
}

// Reports the working folder and every listed name, as hexadecimal bytes.
constexpr const char* NAMES_SCRIPT = R"(<?php
header('Content-Type: text/plain');
echo 'script ', strtoupper(bin2hex(getenv('SCRIPT_FILENAME'))), "\n";
foreach (array('dir', 'file') as $field) {
    foreach (isset($_POST[$field]) ? $_POST[$field] : array() as $name) echo $field, ' ', strtoupper(bin2hex($name)), "\n";
}
echo "end\n";
)";

// Names that are not UTF-8 reach the library, the listing, the playlist and
// the interpreter's environment with the bytes they have on the disk; a name
// with a line break is refused and forges no path.
TEST(LibraryImport, NamesKeepTheirBytesAndLineBreaksAreRefused) {
  Station station;
  // The working folder's own name is not UTF-8 either.
  const fs::path server_folder = station.root.path() / "st\xff";
  fs::rename(station.server(), server_folder);
  fs::create_directory_symlink(server_folder.filename(), station.server());
  station.link_php_cgi();
  station.write_script("names.php", NAMES_SCRIPT);
  fs::copy_file(fs::path(ZV_SOURCE_DIR) / "tests/integration/scripts/echo_input.php", station.www() / "playlist.php");
  ASSERT_TRUE(test::make_library(station.server()));
  const fs::path music = station.root.path() / "music";
  for (const char* name :
       {"caf\xe9.mp3", "bad\xff.mp3", "bad\xfe.mp3", "d\xff/in.mp3", "evil\n/etc/passwd\n.mp3", "line\rbreak.mp3"})
    make_file(music / name);

  ServerProcess server(station.server());
  ASSERT_TRUE(server.wait_until_listening()) << server.console();
  const std::string folder = percent_encoded(music.string());
  const std::string reply = http_exchange("GET /names.php?dir=" + folder + "&add_dir=" + folder + " HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(server.wait_for_console("\n---> Exit socket_accept_mt\n")) << server.console();

  EXPECT_NE(reply.find("\nscript " + hex_of(server_folder.string() + "/www/names.php") + "\n"), std::string::npos)
      << reply;
  for (const std::string& line :
       {"dir " + hex_of("d\xff"), "dir " + hex_of("evil\n"), "file " + hex_of("caf\xe9.mp3"),
        "file " + hex_of("bad\xff.mp3"), "file " + hex_of("bad\xfe.mp3"), "file " + hex_of("line\rbreak.mp3")})
    EXPECT_NE(reply.find("\n" + line + "\n"), std::string::npos) << line << "\n" << reply;

  const std::string dir = music.string() + "/";
  EXPECT_EQ(test::library_sql(station.server(), "select hex(dir_name) from song_dir"), hex_of(dir) + "\n");
  std::string songs;
  for (const char* name : {"bad\xfe.mp3", "bad\xff.mp3", "caf\xe9.mp3", "d\xff/in.mp3"})
    songs += hex_of(dir + name) + "\n";
  EXPECT_EQ(test::library_sql(station.server(), "select hex(song_name) from song order by song_name"), songs);
  const std::string console = server.console();
  EXPECT_EQ(count_of(console, "\n" + dir + "evil%0A is not imported: its name holds a line break.\n"), 2) << console;
  EXPECT_EQ(count_of(console, "\n" + dir + "line%0Dbreak.mp3 is not imported: its name holds a line break.\n"), 1)
      << console;

  // The playlist gives the script the stored bytes of each base name.
  ASSERT_EQ(test::library_sql(station.server(),
                              "insert into playlist_info (playinfo_id, play_time, week_days) values (1, 24, 128);"
                              "insert into playlist (playinfo_id, song_dir_id, dir_order) values (1, 1, 1);"),
            "");
  const std::string playlist = http_exchange("GET /playlist.php HTTP/1.0\r\n\r\n");
  for (const char* field : {"=caf%E9&", "=bad%FF&", "=bad%FE&", "=in&"})
    EXPECT_NE(playlist.find(field), std::string::npos) << field << "\n" << playlist;
}

}  // namespace
}  // namespace zv::testing
