#include "library/database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "library/statements.h"
#include "library/transaction.h"
#include "support/library_fixture.h"

namespace zv {
namespace {

using test::LibraryFolder;

const std::string CONNECTED = "Direct ODBC: Successfully connected to database. Data source name: \n  ";
const std::string NOT_CONNECTED =
    "Direct ODBC: Couldn't connect to Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=base2.mdb;.\n"
    "Direct ODBC: SQL Done.\n";

template <typename Action>
std::string console_of(Action action) {
  ::testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

int count_of(const std::string& text, const std::string& needle) {
  int count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

ColumnBinding long_column(std::int32_t& target) { return ColumnBinding{SQL_C_LONG, &target, 0, 0}; }

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_LIBRARY();
    ASSERT_TRUE(library_.made());
  }
  LibraryFolder library_;
};

TEST_F(DatabaseTest, InsertIsNarratedAndTheConnectionIsOpenedOnce) {
  SQLRETURN first = 0, second = 0;
  std::string console = console_of([&] {
    first = db_execute(u"insert into song_dir (dir_order, dir_name) values (1, 'a')");
    second = db_execute(u"insert into song_dir (dir_order, dir_name) values (2, 'b')");
  });
  EXPECT_EQ(first, SQL_SUCCESS);
  EXPECT_EQ(second, SQL_SUCCESS);
  EXPECT_EQ(count_of(console, CONNECTED), 1) << console;
  // The completed connection string names the data source the driver used.
  EXPECT_NE(console.find(CONNECTED + "DSN='';Database=base2.mdb;"), std::string::npos) << console;
  const std::string one_insert =
      "Direct ODBC: SQL query:\n  insert into song_dir (dir_order, dir_name) values (2, 'b')\n"
      "Direct ODBC: Retrieve schema info for the given result set:\n"
      "Direct ODBC: Error: Number of fields in the result set is 0.\n"
      "Direct ODBC: Fetch the actual data:\n"
      "Direct ODBC: Total Row Count: 0\n"
      "Direct ODBC: SQL Done.\n";
  EXPECT_TRUE(console.ends_with(one_insert)) << console;
  EXPECT_EQ(library_.sql("select dir_order, dir_name from song_dir order by dir_order"), "1|a\n2|b\n");
}

TEST_F(DatabaseTest, ExecuteNarratesAndCountsTheRowsOfAResult) {
  library_.sql("insert into song_dir (dir_order, dir_name) values (1, 'a'), (2, 'b');");
  SQLRETURN code = 0;
  std::string console = console_of([&] {
    code = db_execute(u"select dir_order, dir_name, null, 'x' from song_dir order by dir_order");
  });
  EXPECT_EQ(code, SQL_SUCCESS);
  EXPECT_TRUE(console.ends_with("Direct ODBC: Retrieve schema info for the given result set:\n"
                                " | dir_order | dir_name | null | 'x'\n"
                                "Direct ODBC: Fetch the actual data:\n"
                                " | 1 | a | \n"
                                " | 2 | b | \n"
                                "Direct ODBC: Total Row Count: 2\n"
                                "Direct ODBC: SQL Done.\n"))
      << console;
}

TEST_F(DatabaseTest, QueryFetchesTheFirstRowAndHandsOverTheStatement) {
  library_.sql("insert into song_dir (dir_order, dir_name) values (7, 'x'); "
               "insert into song_dir (dir_order, dir_name) values (9, 'y');");
  std::int32_t order = 0;
  ColumnBinding columns[1] = {long_column(order)};
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN code = 0;
  std::string console = console_of([&] {
    code = db_query(u"select dir_order, dir_name from song_dir order by dir_order", columns, 1, &statement);
  });
  EXPECT_EQ(code, SQL_SUCCESS);
  EXPECT_EQ(order, 7);
  EXPECT_EQ(columns[0].indicator, static_cast<SQLLEN>(sizeof(std::int32_t)));
  EXPECT_TRUE(console.ends_with("Direct ODBC: SQL query:\n  select dir_order, dir_name from song_dir order by dir_order\n"
                                "Direct ODBC: Retrieve schema info for the given result set:\n"
                                " | dir_order | dir_name\n"
                                "Direct ODBC: Fetch the actual data:\n"
                                "Direct ODBC: SQL Done.\n"))
      << console;
  ASSERT_NE(statement, nullptr);
  EXPECT_EQ(SQLFetch(statement), SQL_SUCCESS);
  EXPECT_EQ(order, 9);
  EXPECT_EQ(SQLFetch(statement), SQL_NO_DATA);
  release_statement(statement, code);
  EXPECT_EQ(statement, nullptr);
  EXPECT_EQ(code, SQL_NO_DATA);
  // Nothing left to release: the code stays as it was.
  code = 5;
  release_statement(statement, code);
  EXPECT_EQ(code, 5);
}

TEST_F(DatabaseTest, QueryWithoutRowsReturnsNoDataAndStillHandsOverTheStatement) {
  std::int32_t id = 42;
  ColumnBinding columns[1] = {long_column(id)};
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN code = 0;
  std::string console = console_of([&] {
    code = db_query(u"select song_dir_id from song_dir where dir_name='none'", columns, 1, &statement);
  });
  EXPECT_EQ(code, SQL_NO_DATA);
  EXPECT_EQ(id, 42);
  EXPECT_NE(statement, nullptr);
  EXPECT_EQ(console.find("Error in SQL"), std::string::npos) << console;
  release_statement(statement, code);
}

TEST_F(DatabaseTest, MaximumOverNoRowsLeavesTheTargetAndCountZeroBindsNothing) {
  std::int32_t order = 0;
  ColumnBinding columns[1] = {long_column(order)};
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN code = 0;
  console_of([&] { code = db_query(SQL_MAX_DIR_ORDER, columns, 1, &statement); });
  EXPECT_EQ(code, SQL_SUCCESS);
  EXPECT_EQ(columns[0].indicator, SQL_NULL_DATA);
  EXPECT_EQ(order, 0);
  release_statement(statement, code);

  console_of([&] { code = db_query(u"select 1", nullptr, 0, &statement); });
  EXPECT_EQ(code, SQL_SUCCESS);
  release_statement(statement, code);
}

TEST_F(DatabaseTest, SyntaxErrorCarriesTheDriversOwnMessage) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN query_code = 0, execute_code = 0;
  std::string console = console_of([&] {
    query_code = db_query(u"selec song_id fro song", nullptr, 0, &statement);
    execute_code = db_execute(u"insert into nowhere values (1)");
  });
  EXPECT_EQ(query_code, SQL_ERROR);
  EXPECT_EQ(execute_code, SQL_ERROR);
  EXPECT_EQ(statement, nullptr);
  // SQLSTATE, native code and the driver's words about the statement, on the
  // "Error in SQL:" line itself; not the function-sequence error of running
  // a statement that never prepared.
  EXPECT_NE(console.find("Direct ODBC: Error in SQL: S1000 1 [SQLite]near \"selec\": syntax error (1)\nDirect ODBC: SQL Done.\n"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("Direct ODBC: Error in SQL: S1000 1 [SQLite]no such table: nowhere (1)\nDirect ODBC: SQL Done.\n"),
            std::string::npos)
      << console;
  EXPECT_EQ(console.find("S1010"), std::string::npos) << console;
  EXPECT_EQ(console.find("HY010"), std::string::npos) << console;
}

#ifdef __GLIBC__
// Each write the console receives, while it is line-buffered as the server's.
class ConsoleWrites {
 public:
  ConsoleWrites() {
    cookie_io_functions_t calls{};
    calls.write = [](void* self, const char* data, std::size_t size) -> ssize_t {
      static_cast<ConsoleWrites*>(self)->writes.emplace_back(data, size);
      return static_cast<ssize_t>(size);
    };
    std::fflush(stdout);
    console_ = stdout;
    stdout = fopencookie(this, "w", calls);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
  }
  ~ConsoleWrites() {
    std::fclose(stdout);
    stdout = console_;
  }
  std::vector<std::string> writes;

 private:
  std::FILE* console_;
};

// A message that begins or spans lines still reaches the console whole.
TEST_F(DatabaseTest, EveryMessageIsOneWrite) {
  std::vector<std::string> writes;
  {
    ConsoleWrites console;
    SQLHSTMT statement = SQL_NULL_HSTMT;
    SQLRETURN code = db_query(u"select 1 as one, 2 as two", nullptr, 0, &statement);
    release_statement(statement, code);
    db_execute(u"insert into nowhere values (1)");
    writes = console.writes;
  }
  for (const char* message : {"Direct ODBC: SQL query:\n  select 1 as one, 2 as two\n", " | one | two\n",
                              "Direct ODBC: Error in SQL: S1000 1 [SQLite]no such table: nowhere (1)\n"})
    EXPECT_NE(std::find(writes.begin(), writes.end(), message), writes.end()) << message;
}
#endif

TEST_F(DatabaseTest, MissingLibraryIsNeverCreatedAndEveryOperationTriesAgain) {
  library_.remove_library();
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN execute_code = 0, query_code = 0;
  std::string console = console_of([&] {
    execute_code = db_execute(u"insert into song_dir (dir_order, dir_name) values (1, 'a')");
    query_code = db_query(u"select 1", nullptr, 0, &statement);
  });
  EXPECT_FALSE(sql_succeeded(execute_code));
  EXPECT_FALSE(sql_succeeded(query_code));
  EXPECT_EQ(statement, nullptr);
  EXPECT_EQ(console, NOT_CONNECTED + NOT_CONNECTED);
  EXPECT_FALSE(std::filesystem::exists(library_.path() / "base2.mdb"));

  // Once the library is there, the next operation connects.
  ASSERT_TRUE(test::make_library(library_.path()));
  console = console_of([&] { execute_code = db_execute(u"insert into song_dir (dir_order, dir_name) values (1, 'a')"); });
  EXPECT_EQ(execute_code, SQL_SUCCESS);
  EXPECT_TRUE(console.starts_with(CONNECTED)) << console;
}

TEST_F(DatabaseTest, IdentityOfTheLastInsertIsAskedInTheDatabasesOwnWords) {
  library_.sql("insert into song_dir (dir_order, dir_name) values (1, 'first');");
  std::int32_t id = 0;
  ColumnBinding columns[1] = {long_column(id)};
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN code = 0;
  std::string console = console_of([&] {
    db_execute(u"insert into song_dir (dir_order, dir_name) values (2, 'second')");
    code = db_query(SQL_LAST_IDENTITY, columns, 1, &statement);
  });
  EXPECT_EQ(code, SQL_SUCCESS);
  EXPECT_EQ(id, 2);
  EXPECT_NE(console.find("Direct ODBC: SQL query:\n  select last_insert_rowid()\n"), std::string::npos) << console;
  release_statement(statement, code);
}

TEST_F(DatabaseTest, TextTravelsAsUtf8ByteForByte) {
  const char16_t* insert = u"insert into song (song_dir_id, song_name) values (1, 'Bj\u00f6rk \u2013 J\u00f3ga \U0001F3B5.mp3')";
  std::string console = console_of([&] { db_execute(insert); });
  EXPECT_NE(console.find("values (1, 'Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xF0\x9F\x8E\xB5.mp3')"), std::string::npos)
      << console;
  EXPECT_EQ(library_.sql("select hex(song_name) from song"),
            "426AC3B6726B20E28093204AC3B3676120F09F8EB52E6D7033\n");

  char name[TEXT_COLUMN_LENGTH + 2] = {};
  ColumnBinding columns[1] = {ColumnBinding{SQL_C_CHAR, name, TEXT_COLUMN_LENGTH, 0}};
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN code = 0;
  console_of([&] { code = db_query(u"select song_name from song", columns, 1, &statement); });
  EXPECT_EQ(code, SQL_SUCCESS);
  EXPECT_STREQ(name, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xF0\x9F\x8E\xB5.mp3");
  release_statement(statement, code);
}

TEST_F(DatabaseTest, CleanupClosesAndTheNextOperationReconnects) {
  std::string console = console_of([&] {
    db_execute(u"insert into song_dir (dir_order, dir_name) values (1, 'a')");
    EXPECT_EQ(db_connect(nullptr, false), SQL_SUCCESS);
    db_execute(u"insert into song_dir (dir_order, dir_name) values (2, 'b')");
  });
  EXPECT_EQ(count_of(console, "ODBC: Cleanup. Done.\n"), 1) << console;
  EXPECT_EQ(count_of(console, CONNECTED), 2) << console;
  SQLHDBC connection = SQL_NULL_HDBC;
  EXPECT_EQ(db_connect(&connection, true), SQL_SUCCESS);
  EXPECT_NE(connection, nullptr);
  EXPECT_EQ(db_connect(nullptr, true), SQL_ERROR);
}

// The data source lets a reader in while a statement of the server's holds
// the library, and a committed row is on disk the moment the statement returns.
TEST_F(DatabaseTest, DataSourceSettingsLetReadersInAndKeepCommittedRows) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN code = 0;
  char mode[TEXT_COLUMN_LENGTH + 2] = {};
  ColumnBinding columns[1] = {ColumnBinding{SQL_C_CHAR, mode, TEXT_COLUMN_LENGTH, 0}};
  console_of([&] { code = db_query(u"pragma journal_mode", columns, 1, &statement); });
  EXPECT_STREQ(mode, "wal");
  release_statement(statement, code);
  std::int32_t sync = -1;
  ColumnBinding sync_column[1] = {long_column(sync)};
  console_of([&] { code = db_query(u"pragma synchronous", sync_column, 1, &statement); });
  EXPECT_EQ(sync, 1);  // NORMAL
  release_statement(statement, code);
  std::int32_t cache = 0;
  ColumnBinding cache_column[1] = {long_column(cache)};
  console_of([&] { code = db_query(u"pragma cache_size", cache_column, 1, &statement); });
  EXPECT_EQ(cache, -32768);  // 32 MiB of pages, set on connecting
  release_statement(statement, code);

  // An open reading statement of the server does not keep another program out.
  library_.sql("insert into song_dir (dir_order, dir_name) values (1, 'a'), (2, 'b');");
  std::int32_t order = 0;
  ColumnBinding order_column[1] = {long_column(order)};
  console_of([&] { code = db_query(u"select dir_order from song_dir", order_column, 1, &statement); });
  ASSERT_EQ(code, SQL_SUCCESS);
  EXPECT_EQ(library_.sql("insert into song_dir (dir_order, dir_name) values (3, 'c'); select count(*) from song_dir;"),
            "3\n");
  release_statement(statement, code);
  console_of([&] { db_execute(u"insert into song_dir (dir_order, dir_name) values (4, 'd')"); });
  EXPECT_EQ(library_.sql("select count(*) from song_dir;"), "4\n");

  // A statement that meets another program's write waits for it instead of
  // failing at once.
  const std::string holder = "sqlite3 base2.mdb 'begin immediate;' "
                             "'insert into song_dir (dir_order, dir_name) values (5, \"e\");' "
                             "'.shell touch locked' '.shell sleep 1' 'commit;' &";
  ASSERT_EQ(std::system(holder.c_str()), 0);
  for (int i = 0; i < 500 && !std::filesystem::exists("locked"); ++i) ::usleep(10000);
  ASSERT_TRUE(std::filesystem::exists("locked"));
  console_of([&] { code = db_execute(u"insert into song_dir (dir_order, dir_name) values (6, 'f')"); });
  EXPECT_EQ(code, SQL_SUCCESS);
  EXPECT_EQ(library_.sql("select group_concat(dir_order) from song_dir;"), "1,2,3,4,5,6\n");
}

TEST_F(DatabaseTest, TransactionThatReadsFirstStillWritesWhenAnotherProgramWritesBetween) {
  console_of([] { db_execute(u"select 1"); });  // connected
  {
    LibraryTransaction transaction;
    ASSERT_TRUE(transaction.started());
    std::int32_t count = -1;
    ColumnBinding count_column[1] = {long_column(count)};
    SQLHSTMT statement = SQL_NULL_HSTMT;
    SQLRETURN code = 0;
    console_of([&] { code = db_query(u"select count(*) from song_dir", count_column, 1, &statement); });
    release_statement(statement, code);
    // The other program meets the transaction's lock and gives up (no timeout).
    EXPECT_NE(library_.sql("insert into song_dir (dir_order, dir_name) values (9, 'other');"), "");
    console_of([&] { code = db_execute(u"insert into song_dir (dir_order, dir_name) values (1, 'a')"); });
    EXPECT_EQ(code, SQL_SUCCESS);
    EXPECT_EQ(library_.sql("select count(*) from song_dir;"), "0\n");  // not yet committed
    EXPECT_TRUE(transaction.commit());
  }
  EXPECT_EQ(library_.sql("select group_concat(dir_name) from song_dir;"), "a\n");
  // Each statement commits by itself again.
  console_of([] { db_execute(u"insert into song_dir (dir_order, dir_name) values (2, 'b')"); });
  EXPECT_EQ(library_.sql("select group_concat(dir_name) from song_dir;"), "a,b\n");
}

TEST(StatementFormat, FillsEveryPlaceholderKind) {
  StatementBuffer statement;
  ASSERT_TRUE(format_statement(statement, SQL_INSERT_SONG,
                               {std::int32_t{-3}, u"a''b", 0.0, 0, 0, 0, 0, 0, std::int32_t{2147483647}, 0}));
  EXPECT_EQ(std::u16string(statement),
            u"insert into song (song_dir_id, song_name, replay_gain, sm_count, sm_fade_in, sm_fade_out, "
            u"file_size, sec_count, play_count, play_time) values (-3, 'a''b', 0.000000, 0, 0, 0, 0, 0, "
            u"2147483647, 0)");
  ASSERT_TRUE(format_statement(statement, u"%u%%%d", {std::uint32_t{4294967295u}, true}));
  EXPECT_EQ(std::u16string(statement), u"4294967295%1");
}

TEST(StatementFormat, RefusesWhatDoesNotFitOrDoesNotMatch) {
  StatementBuffer statement;
  // 779 characters and the terminator fill the buffer exactly.
  std::u16string longest(779 - 2, u'x');
  EXPECT_TRUE(format_statement(statement, u"'%s'", {longest}));
  EXPECT_EQ(std::u16string(statement).size(), 779u);

  std::u16string too_long(779 - 1, u'x');
  std::string console = console_of([&] { EXPECT_FALSE(format_statement(statement, u"'%s'", {too_long})); });
  EXPECT_EQ(statement[0], u'\0');  // never a statement cut short
  EXPECT_EQ(console, "Direct ODBC: Statement not run: longer than 779 characters.\n");

  console = console_of([&] {
    EXPECT_FALSE(format_statement(statement, SQL_ADOPT_SONG, {1}));                      // one value missing
    EXPECT_FALSE(format_statement(statement, SQL_FIND_SONG, {1}));                       // wrong kind
    EXPECT_FALSE(format_statement(statement, SQL_FIND_SONG, {static_cast<const char16_t*>(nullptr)}));
    EXPECT_FALSE(format_statement(statement, SQL_MAX_DIR_ORDER, {1}));                   // one too many
    EXPECT_FALSE(format_statement(statement, u"%x", {1}));                               // unknown placeholder
  });
  EXPECT_EQ(count_of(console, "Direct ODBC: Statement not run: its values do not match its text.\n"), 5) << console;
}

TEST_F(DatabaseTest, StatementThatDoesNotFitIsNotRun) {
  StatementBuffer statement;
  std::u16string name(800, u'n');
  SQLHSTMT handle = reinterpret_cast<SQLHSTMT>(1);
  SQLRETURN code = 0;
  std::string console = console_of([&] {
    code = query_statement(statement, SQL_FIND_FOLDER, {name}, nullptr, 0, &handle);
    EXPECT_EQ(execute_statement(statement, SQL_INSERT_FOLDER, {1, 1, 0, 0, name, 0, 16711680, 3145645}), SQL_ERROR);
  });
  EXPECT_EQ(code, SQL_ERROR);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(console.find("SQL query"), std::string::npos) << console;
  EXPECT_EQ(library_.sql("select count(*) from song_dir;"), "0\n");
}

}  // namespace
}  // namespace zv
