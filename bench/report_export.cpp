// history.php's exports of a month of plays (the CSV, the Report of Use and
// the music report) run by php-cgi on a library of PLAYS plays, beside
// SQLite's own CSV output of the same rows (the sqlite3 tool): wall time,
// bytes and the most memory each process held. Run at two sizes, an export
// that goes out row by row holds about the same at both.
//
//   bench_report_export [PLAYS [WWW_FOLDER]]     (default 100000 and the
//                                                 source tree's station/www)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/library_fixture.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Run {
  double seconds = 0;
  long max_rss_kb = 0;
  std::size_t bytes = 0;
  bool ok = false;
};

// Runs `argv` with `environment`, reading and counting what it writes.
Run measure(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
  int out[2];
  if (::pipe(out) != 0) return {};
  const auto began = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    std::vector<char*> args, env;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    for (const auto& entry : environment) env.push_back(const_cast<char*>(entry.c_str()));
    args.push_back(nullptr);
    env.push_back(nullptr);
    ::execve(args[0], args.data(), env.data());
    ::_exit(127);
  }
  ::close(out[1]);
  Run run;
  char buffer[65536];
  for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) run.bytes += static_cast<std::size_t>(got);
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(Clock::now() - began).count();
  run.max_rss_kb = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

// `plays` plays spread over January 2026 (UTC), of 5,000 recordings by 500
// artists, each with its tags and listeners as the player records them.
std::string fill_sql(int plays) {
  const std::string count = std::to_string(plays);
  return "with recursive n(i) as (select 0 union all select i + 1 from n where i + 1 < " + count +
         ") insert into play_record (play_key, started, ended, song_id, song_name, dir_name, source, outcome) "
         "select 'k' || i, 1767225600 + i * (2678400 / " +
         count + "), 1767225600 + i * (2678400 / " + count +
         ") + 20, null, 'Song ' || (i % 5000) || '.mp3', '/music/Pop/', 'scheduled', 'played' from n;"
         "insert into play_detail (play_key, artist, title, album, isrc, label, composer, duration_s, listeners_start, "
         "listeners_peak, listener_seconds) select play_key, 'Artist ' || (play_id % 500), 'Title ' || (play_id % "
         "5000), "
         "'Album ' || (play_id % 1000), 'USABC' || printf('%07d', play_id % 5000), 'Label', 'Writer', 20, 3, 5, 80 "
         "from play_record;";
}

const char* const ANCHOR_SQL =
    "select r.started, r.ended, r.song_name, r.dir_name, r.source, r.outcome, d.artist, d.title, d.album, d.isrc, "
    "d.label, d.composer, r.ended - r.started, d.listeners_start, d.listeners_peak, d.listener_seconds "
    "from play_record r left join play_detail d on d.play_key = r.play_key "
    "where r.started >= 1767225600 and r.started < 1769904000 order by r.started, r.play_id;";

void report(const char* what, const Run& ours, const Run& anchor) {
  std::printf("%-26s %8.3f s %9zu bytes %7ld KB max | sqlite3 -csv %6.3f s %7ld KB | time %5.2fx memory %5.2fx%s\n",
              what, ours.seconds, ours.bytes, ours.max_rss_kb, anchor.seconds, anchor.max_rss_kb,
              ours.seconds / anchor.seconds, static_cast<double>(ours.max_rss_kb) / anchor.max_rss_kb,
              ours.ok ? "" : "  (FAILED)");
}

void bench_size(int plays, const fs::path& www) {
  const fs::path server = zv::test::library_fixture_detail::fresh_temp_folder("zv-bench-report-");
  if (!zv::test::make_library(server)) {
    std::fprintf(stderr, "bench_report_export: the library could not be made\n");
    std::exit(1);
  }
  const std::string filled = zv::test::library_sql(server, fill_sql(plays));
  if (!filled.empty()) {
    std::fprintf(stderr, "bench_report_export: %s", filled.c_str());
    std::exit(1);
  }
  const fs::path library = server / "base2.mdb";
  std::vector<std::string> environment = zv::test::odbc_environment();
  environment.push_back("ODBC_CONNECT=Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=" + library.string());
  environment.push_back("REDIRECT_STATUS=200");
  environment.push_back("REQUEST_METHOD=GET");
  environment.push_back("SCRIPT_FILENAME=" + (www / "history.php").string());
  const Run anchor = measure({"/usr/bin/sqlite3", "-csv", "-header", library.string(), ANCHOR_SQL}, {});
  for (const char* format : {"csv", "soundexchange", "music"}) {
    std::vector<std::string> request = environment;
    request.push_back(std::string("QUERY_STRING=month=2026-01&format=") + format);
    const Run ours = measure({"/usr/bin/php-cgi"}, request);
    report((std::to_string(plays) + " plays, " + format).c_str(), ours, anchor);
  }
  fs::remove_all(server);
}

}  // namespace

int main(int argc, char** argv) {
  const int plays = argc > 1 ? std::atoi(argv[1]) : 100000;
  const fs::path www = argc > 2 ? fs::path(argv[2]) : fs::path(ZV_SOURCE_DIR) / "station/www";
  zv::test::use_test_odbc_registration();
  bench_size(plays / 10, www);
  bench_size(plays, www);
  return 0;
}
