// The import of a large music folder into an empty library, 20,000 files in
// 40 folders, with the console narration going to a file as a station's
// would; beside it, in the same run, the floors: the sqlite3 tool running the
// same statements (the folder's, then the lookup and the insert per file) on
// the station's own schema, once in one transaction and once with each
// statement committed by itself. Rounds alternate; medians and the ratios are
// printed. Then a second import of the same tree (every file known).
//
//   bench_import [ROUNDS] [work folder]     (default 3 rounds)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "library/folder_import.h"
#include "support/library_fixture.h"
#include "text/encoding.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int FOLDERS = 40;
constexpr int FILES_PER_FOLDER = 500;
constexpr int FILES = FOLDERS * FILES_PER_FOLDER;

std::string file_name(int folder, int i) {
  return "Folder " + std::to_string(folder) + "/Song " + std::to_string(i) + (i % 2 ? ".wav" : ".mp3");
}

void make_tree(const fs::path& music) {
  for (int f = 0; f < FOLDERS; ++f) {
    fs::create_directories(music / ("Folder " + std::to_string(f)));
    for (int i = 0; i < FILES_PER_FOLDER; ++i) std::ofstream(music / file_name(f, i));
  }
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// One import into the library in the working folder, standard output going
// to `console` (line-buffered, as the server narrates). Its seconds.
double import_once(const fs::path& music, const fs::path& console) {
  std::fflush(stdout);
  const int saved = ::dup(1);
  if (!std::freopen(console.c_str(), "w", stdout)) std::abort();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::u16string folder = *zv::folder_path_native(zv::utf8_to_wide(music.c_str(), -1)->c_str());
  const auto start = Clock::now();
  zv::import_music_folder(folder.c_str(), nullptr, nullptr);
  std::fflush(stdout);
  const double seconds = seconds_since(start);
  zv::db_connect(nullptr, false);
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  std::clearerr(stdout);
  return seconds;
}

// The import's statements for an empty library, as sqlite3 reads them; in
// one transaction or each by itself.
void write_floor_script(const fs::path& script, const fs::path& music, bool one_transaction) {
  std::ofstream sql(script);
  const std::string dir = music.string() + "/";
  sql << "pragma synchronous=NORMAL;\n" << (one_transaction ? "begin;\n" : "")
      << "select song_dir_id, dir_order, play_count, is_ads from song_dir where dir_name='" << dir << "';\n"
      << "select max(dir_order) from song_dir;\n"
      << "insert into song_dir (dir_order, is_playlist, is_ads, is_jingle, dir_name, play_count, dir_color, "
         "dir_bgcolor) values (1, 1, 0, 0, '"
      << dir << "', 0, '16711680', '3145645');\nselect last_insert_rowid();\n";
  // The import takes the mp3s first, then the wavs.
  for (int odd = 0; odd < 2; ++odd) {
    for (int f = 0; f < FOLDERS; ++f) {
      for (int i = odd; i < FILES_PER_FOLDER; i += 2) {
        const std::string name = dir + file_name(f, i);
        sql << "select song_id, song_dir_id from song where song_name='" << name << "';\n"
            << "insert into song (song_dir_id, song_name, replay_gain, sm_count, sm_fade_in, sm_fade_out, "
               "file_size, sec_count, play_count, play_time) values (1, '"
            << name << "', 0.000000, 0, 0, 0, 0, 0, 0, 0);\n";
      }
    }
  }
  if (one_transaction) sql << "commit;\n";
}

double floor_once(const fs::path& library, const fs::path& script) {
  const std::string command =
      "sqlite3 -bail '" + (library / "base2.mdb").string() + "' < '" + script.string() + "' > /dev/null";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) std::abort();
  return seconds_since(start);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool holds_every_file(const fs::path& library) {
  return zv::test::library_sql(library, "select count(*) from song") == std::to_string(FILES) + "\n";
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const fs::path work =
      argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / ("zv-bench-import-" + std::to_string(::getpid()));
  fs::remove_all(work);
  const fs::path music = work / "music";
  make_tree(music);
  zv::test::use_test_odbc_registration();
  const fs::path original = fs::current_path();
  const fs::path one_script = work / "one-transaction.sql";
  const fs::path each_script = work / "autocommit.sql";
  write_floor_script(one_script, music, true);
  write_floor_script(each_script, music, false);

  std::vector<double> first, again, one, each;
  for (int round = 0; round < rounds; ++round) {
    const fs::path server = work / ("server-" + std::to_string(round));
    if (!zv::test::make_library(server)) return 1;
    fs::current_path(server);
    first.push_back(import_once(music, work / "console-first.txt"));
    again.push_back(import_once(music, work / "console-again.txt"));
    fs::current_path(original);
    for (auto [script, times] : {std::pair{one_script, &one}, std::pair{each_script, &each}}) {
      const fs::path floor = work / ("floor-" + std::to_string(round) + "-" + script.stem().string());
      if (!zv::test::make_library(floor)) return 1;
      times->push_back(floor_once(floor, script));
      if (!holds_every_file(floor)) return 1;
    }
    if (!holds_every_file(server)) {
      std::printf("the import did not store every file\n");
      return 1;
    }
  }

  const double ours = median(first);
  std::printf("Import of %d files in %d folders into an empty library (narration to a file), median of %d\n", FILES,
              FOLDERS, rounds);
  std::printf("  import                                    %6.2f s  (%.0f files/s)\n", ours, FILES / ours);
  std::printf("  same tree again (all known)               %6.2f s\n", median(again));
  std::printf("  sqlite3, the same statements, one transaction  %6.2f s   ratio %.2f\n", median(one),
              ours / median(one));
  std::printf("  sqlite3, the same statements, each committed   %6.2f s   ratio %.2f\n", median(each),
              ours / median(each));
  std::printf("  console narration of one import: %ju bytes\n",
              static_cast<std::uintmax_t>(fs::file_size(work / "console-first.txt")));
  if (argc <= 2) fs::remove_all(work);
  return 0;
}
