#pragma once
// A music library for tests, made the way a station makes it: the station's
// own ODBC registration (station/library-setup) in a folder of this test
// process, never the machine's /etc/odbc*.ini, and base2.mdb created from
// station/schema.sql. The script runs once, at build time
// (cmake/library_template.cmake); each test copies what it made.
// Header-only, so unit and integration tests share it.

#ifndef _WIN32
#include <dlfcn.h>
#include <sqlite3.h>
#endif
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "library/database.h"

#ifndef ZV_SOURCE_DIR
#error "ZV_SOURCE_DIR must name the source tree"
#endif

namespace zv::test {

// The library tests run against unixODBC with the SQLite driver, registered
// by the station's bash script, read the library back with sqlite3, and move
// into a fresh folder per test. Under Wine neither tool runs, and ODBC, handed
// to the machine's unixODBC, opens the relative base2.mdb in the folder the
// process started in, not the one it moved to; so on Windows they are skipped
// (SKIP_WITHOUT_LIBRARY in a fixture's SetUp), and tests/windows reaches the
// library through the real server instead.
#ifdef _WIN32
inline constexpr bool LIBRARY_AVAILABLE = false;
#else
inline constexpr bool LIBRARY_AVAILABLE = true;
#endif
#define SKIP_WITHOUT_LIBRARY()        \
  if (!::zv::test::LIBRARY_AVAILABLE) \
  GTEST_SKIP() << "no station tools here, and Wine's ODBC does not follow a change of folder"

namespace library_fixture_detail {

inline std::filesystem::path fresh_temp_folder(const std::string& prefix) {
  std::random_device seed;
  auto folder =
      std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()) + "-" + std::to_string(seed()));
  std::filesystem::create_directories(folder);
  return folder;
}

inline std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The registration folder of this process, removed when the process ends.
struct Registration {
  std::filesystem::path folder = fresh_temp_folder("zv-odbc-");
  Registration() {
#ifndef _WIN32
    // The SQLite driver loads the settings reader for each connection and
    // unloads it after; held here, its code stays mapped and the few bytes
    // it never frees are named in leak reports (see odbc_leak_suppressions).
    ::dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_GLOBAL);
    ::setenv("ODBCSYSINI", folder.c_str(), 1);
    ::setenv("ODBCINI", (folder / "odbc.ini").c_str(), 1);
#endif
  }
  ~Registration() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};

}  // namespace library_fixture_detail

// Points unixODBC (in this process and in children that inherit the
// environment) at this process's own registration; returns its folder.
inline const std::filesystem::path& use_test_odbc_registration() {
  static library_fixture_detail::Registration registration;
  return registration.folder;
}

// The environment entries a server process needs to find the registration.
inline std::vector<std::string> odbc_environment() {
  const auto& folder = use_test_odbc_registration();
  return {"ODBCSYSINI=" + folder.string(), "ODBCINI=" + (folder / "odbc.ini").string()};
}

// Registers the driver and data source and puts a new base2.mdb in
// `server_folder`, leaving one that is there alone, as the station's script
// does. False when that failed.
inline bool make_library(const std::filesystem::path& server_folder) {
#ifdef _WIN32
  (void)server_folder;
  return false;
#else
  namespace fs = std::filesystem;
  const fs::path made = ZV_LIBRARY_TEMPLATE;
  const fs::path& registration = use_test_odbc_registration();
  std::error_code error;
  for (const char* name : {"odbcinst.ini", "odbc.ini"}) {
    if (!fs::copy_file(made / "odbc" / name, registration / name, fs::copy_options::overwrite_existing, error))
      return false;
  }
  fs::create_directories(server_folder, error);
  const fs::path library = server_folder / "base2.mdb";
  if (fs::exists(fs::symlink_status(library))) return true;
  return fs::copy_file(made / "server" / "base2.mdb", library, error);
#endif
}

// Sets `name` to `value` in the data source of this process's registration
// (after make_library, which copies it afresh), before the process's first
// connection: unixODBC keeps what it read of the file.
inline void set_data_source_option(const std::string& name, const std::string& value) {
  const std::filesystem::path ini = use_test_odbc_registration() / "odbc.ini";
  std::ifstream in(ini);
  std::string lines;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(name + "=", 0) == 0) continue;
    lines += line + "\n";
    if (line.rfind("Driver=", 0) == 0) lines += name + "=" + value + "\n";
  }
  in.close();
  std::ofstream(ini, std::ios::trunc) << lines;
}

// Runs `sql` on the library in `server_folder`, as the sqlite3 tool would
// with -bail, and returns what it would print: one line per row, columns
// separated by "|", NULL as nothing; a failed statement ends the run with an
// "Error: " line.
inline std::string library_sql(const std::filesystem::path& server_folder, const std::string& sql) {
#ifdef _WIN32
  (void)server_folder;
  (void)sql;
  return {};
#else
  std::string output;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((server_folder / "base2.mdb").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    const auto print_row = [](void* out, int columns, char** values, char**) {
      auto& text = *static_cast<std::string*>(out);
      for (int i = 0; i < columns; ++i) {
        if (i > 0) text += '|';
        if (values[i]) text += values[i];
      }
      text += '\n';
      return 0;
    };
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), print_row, &output, &message) != SQLITE_OK) {
      output += std::string("Error: ") + (message ? message : sqlite3_errmsg(db)) + "\n";
      sqlite3_free(message);
    }
  } else {
    output = std::string("Error: unable to open database: ") + sqlite3_errmsg(db) + "\n";
  }
  sqlite3_close(db);
  return output;
#endif
}

// The page `script` of www below `server_folder`, run by the interpreter
// with `query` on the library there, as the server runs it: what it writes,
// headers and page.
inline std::string run_page(const std::filesystem::path& server_folder, const std::string& script,
                            const std::string& query = "") {
#ifdef _WIN32
  (void)server_folder;
  (void)script;
  (void)query;
  return {};
#else
  using library_fixture_detail::shell_quote;
  const std::filesystem::path www = server_folder / "www";
  const std::string command =
      "cd " + shell_quote(www.string()) + " && env -i ODBCSYSINI=" + shell_quote(std::getenv("ODBCSYSINI")) +
      " ODBCINI=" + shell_quote(std::getenv("ODBCINI")) +
      " REDIRECT_STATUS=200 REQUEST_METHOD=GET SCRIPT_FILENAME=" + shell_quote((www / script).string()) +
      " QUERY_STRING=" + shell_quote(query) + " " +
      shell_quote("ODBC_CONNECT=Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=" +
                  (server_folder / "base2.mdb").string() + ";") +
      " php-cgi";
  std::string output;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    ::pclose(pipe);
  }
  return output;
#endif
}

// A fresh library folder that is this process's working directory while the
// object lives, as the server's folder is for the server. On the way out the
// process's library connection is closed, so the next test starts afresh.
class LibraryFolder {
 public:
  LibraryFolder() : previous_(std::filesystem::current_path()) {
    path_ = library_fixture_detail::fresh_temp_folder("zv-library-");
    made_ = make_library(path_);
    std::filesystem::current_path(path_);
  }
  ~LibraryFolder() {
    std::fflush(stdout);
    db_connect(nullptr, false);
    std::fflush(stdout);
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  LibraryFolder(const LibraryFolder&) = delete;
  LibraryFolder& operator=(const LibraryFolder&) = delete;

  bool made() const { return made_; }
  const std::filesystem::path& path() const { return path_; }
  std::string sql(const std::string& statement) const { return library_sql(path_, statement); }
  // Takes the library file away (with its write-ahead log).
  void remove_library() const {
    for (const char* name : {"base2.mdb", "base2.mdb-wal", "base2.mdb-shm"}) std::filesystem::remove(path_ / name);
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
  bool made_ = false;
};

}  // namespace zv::test
