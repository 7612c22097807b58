// The import of a large music folder into an empty library: 10,000 files in
// 100 folders, with the console narration going to a file as a station's
// would. Reports seconds and statements per second, for the station's data
// source settings and, for comparison, with a disk flush on every commit;
// then a second import of the same tree (every file known), and as the floor
// the same rows inserted by the sqlite3 tool in one transaction.
//
//   bench_import [work folder]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "../tests/unit/library_fixture.h"
#include "library/folder_import.h"
#include "text/encoding.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int FOLDERS = 100;
constexpr int FILES_PER_FOLDER = 100;

std::string read_text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void make_tree(const fs::path& music) {
  for (int f = 0; f < FOLDERS; ++f) {
    const fs::path folder = music / ("Folder " + std::to_string(f));
    fs::create_directories(folder);
    for (int i = 0; i < FILES_PER_FOLDER; ++i) {
      std::ofstream(folder / ("Song " + std::to_string(i) + (i % 2 ? ".wav" : ".mp3")));
    }
  }
}

void set_sync(const fs::path& registration, const std::string& level) {
  const fs::path ini = registration / "odbc.ini";
  std::string text = std::regex_replace(read_text(ini), std::regex("SyncPragma=[A-Z]+"), "SyncPragma=" + level);
  std::ofstream(ini, std::ios::binary) << text;
}

struct Run {
  double seconds = 0;
  int statements = 0;
};

// One import with standard output going to `console`.
Run import_once(const fs::path& music, const fs::path& console) {
  std::fflush(stdout);
  const int saved = ::dup(1);
  if (!std::freopen(console.c_str(), "w", stdout)) std::abort();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // as the server narrates
  const std::u16string folder = *zv::folder_path_native(zv::utf8_to_wide(music.c_str(), -1)->c_str());
  const auto start = Clock::now();
  zv::import_music_folder(folder.c_str(), nullptr, nullptr);
  std::fflush(stdout);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  zv::db_connect(nullptr, false);
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  std::clearerr(stdout);
  const std::string text = read_text(console);
  int statements = 0;
  for (auto at = text.find("Direct ODBC: SQL query:"); at != std::string::npos; at = text.find("Direct ODBC: SQL query:", at + 1)) {
    ++statements;
  }
  return {seconds, statements};
}

void report(const char* what, const Run& run) {
  std::printf("%-46s %8.2f s  %6d statements  %8.0f statements/s\n", what, run.seconds, run.statements,
              run.statements / run.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("zv-bench-import-" + std::to_string(::getpid()));
  fs::remove_all(work);
  const fs::path music = work / "music";
  make_tree(music);
  const fs::path& registration = zv::test::use_test_odbc_registration();
  const fs::path original = fs::current_path();

  std::printf("Import of %d files in %d folders into an empty library (narration to a file)\n",
              FOLDERS * FILES_PER_FOLDER, FOLDERS);
  for (const char* level : {"NORMAL", "FULL"}) {
    const fs::path server = work / (std::string("server-") + level);
    if (!zv::test::make_library(server)) return 1;
    set_sync(registration, level);
    fs::current_path(server);
    const Run first = import_once(music, work / "console-first.txt");
    const Run again = import_once(music, work / "console-again.txt");
    fs::current_path(original);
    const std::string rows = zv::test::library_sql(server, "select count(*) from song");
    report((std::string("first import, synchronous=") + level).c_str(), first);
    report((std::string("same tree again (all known), synchronous=") + level).c_str(), again);
    if (rows != std::to_string(FOLDERS * FILES_PER_FOLDER) + "\n") {
      std::printf("unexpected song count: %s\n", rows.c_str());
      return 1;
    }
  }
  std::printf("console narration of the first import: %ju bytes\n",
              static_cast<std::uintmax_t>(fs::file_size(work / "console-first.txt")));

  // The floor: the same rows, one transaction, the sqlite3 tool.
  const fs::path floor = work / "server-floor";
  if (!zv::test::make_library(floor)) return 1;
  const fs::path script = work / "floor.sql";
  {
    std::ofstream sql(script);
    const std::string dir = music.string() + "/";
    sql << "pragma synchronous=NORMAL;\nbegin;\n"
        << "insert into song_dir (dir_order, is_playlist, is_ads, is_jingle, dir_name, play_count, dir_color, "
           "dir_bgcolor) values (1, 1, 0, 0, '"
        << dir << "', 0, '16711680', '3145645');\n";
    for (int f = 0; f < FOLDERS; ++f) {
      for (int i = 0; i < FILES_PER_FOLDER; ++i) {
        sql << "insert into song (song_dir_id, song_name, replay_gain, sm_count, sm_fade_in, sm_fade_out, file_size, "
               "sec_count, play_count, play_time) values (1, '"
            << dir << "Folder " << f << "/Song " << i << (i % 2 ? ".wav" : ".mp3") << "', 0.000000, 0, 0, 0, 0, 0, 0, 0);\n";
      }
    }
    sql << "commit;\n";
  }
  const std::string command = "sqlite3 -bail '" + (floor / "base2.mdb").string() + "' < '" + script.string() + "'";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return 1;
  const Run floor_run{std::chrono::duration<double>(Clock::now() - start).count(), FOLDERS * FILES_PER_FOLDER + 1};
  report("floor: sqlite3 tool, one transaction", floor_run);

  if (argc <= 1) fs::remove_all(work);
  return 0;
}
