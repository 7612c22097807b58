#include "library/database.h"

#include <string>

#include "library/statements.h"
#include "platform/console.h"
#include "text/encoding.h"

namespace zv {

namespace {

struct Connection {
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  bool connected = false;
  bool is_sqlite = false;  // SQLite has no @@Identity
};

// Pages of the library file kept in memory: 32 MiB rather than SQLite's 2 MB,
// so a playlist of a large library reads its folders' rows from memory.
constexpr const char* SQLITE_CACHE_PRAGMA = "pragma cache_size=-32768";

// One connection for the whole process; the connection lock keeps its use to
// one request at a time.
Connection g_db;

SQLWCHAR* sqlw(char16_t* text) { return reinterpret_cast<SQLWCHAR*>(text); }
SQLWCHAR* sqlw(const char16_t* text) { return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(text)); }

std::string utf8(const char16_t* text) { return wide_to_utf8(text, -1).value_or(std::string()); }

void release_handles() {
  if (g_db.connection != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, g_db.connection);
  if (g_db.environment != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, g_db.environment);
  g_db.connection = SQL_NULL_HDBC;
  g_db.environment = SQL_NULL_HENV;
}

bool dbms_is_sqlite(SQLHDBC connection) {
  char16_t name[64] = {};
  SQLSMALLINT length = 0;
  SQLRETURN code = SQLGetInfoW(connection, SQL_DBMS_NAME, name, sizeof name, &length);
  return sql_succeeded(code) && std::u16string_view(name) == u"SQLite";
}

// The first diagnostic record of the statement on its "Error in SQL: " line,
// in one message; when there is none the line stays open.
void report_diagnostic(SQLHSTMT statement) {
  char16_t state[6] = {};
  char16_t message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT message_length = 0;
  SQLRETURN code =
      SQLGetDiagRecW(SQL_HANDLE_STMT, statement, 1, sqlw(state), &native, sqlw(message), 512, &message_length);
  if (code == SQL_SUCCESS) {
    narrate("%s: Error in SQL: %s %d %s\n", ODBC_LABEL, utf8(state).c_str(), static_cast<int>(native),
            utf8(message).c_str());
  } else {
    narrate("%s: Error in SQL: ", ODBC_LABEL);
  }
}

void print_done() { narrate("%s: SQL Done.\n", ODBC_LABEL); }

// A statement of this call; dropped when the call ends unless handed out.
class OwnedStatement {
 public:
  OwnedStatement() = default;
  ~OwnedStatement() {
    if (handle_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
  }
  OwnedStatement(const OwnedStatement&) = delete;
  OwnedStatement& operator=(const OwnedStatement&) = delete;

  SQLHSTMT* out() { return &handle_; }
  SQLHSTMT get() const { return handle_; }
  SQLHSTMT hand_out() {
    SQLHSTMT handle = handle_;
    handle_ = SQL_NULL_HSTMT;
    return handle;
  }
  SQLRETURN drop() { return SQLFreeStmt(hand_out(), SQL_DROP); }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

// The steps both operations share: connect, narrate the statement, prepare it
// as UTF-8. Returns the connect code when connecting failed, otherwise the
// prepare's code; a statement that did not prepare is not executed, so its
// diagnostic is the driver's word about the statement itself.
SQLRETURN connect_and_prepare(const char16_t* sql, OwnedStatement& statement) {
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLRETURN code = db_connect(&connection, true);
  if (!sql_succeeded(code)) {
    narrate("%s: Couldn't connect to %s.\n", ODBC_LABEL, utf8(LIBRARY_CONNECTION_STRING).c_str());
    return code;
  }
  if (g_db.is_sqlite && std::u16string_view(sql) == SQL_LAST_IDENTITY) sql = SQL_LAST_IDENTITY_SQLITE;
  std::string narrow = utf8(sql);
  narrate("%s: SQL query:\n  %s\n", ODBC_LABEL, narrow.c_str());
  SQLAllocStmt(connection, statement.out());
  return SQLPrepare(statement.get(), reinterpret_cast<SQLCHAR*>(narrow.data()), SQL_NTS);
}

// The column names of the result, in one message.
void print_schema(SQLHSTMT statement) {
  narrate("%s: Retrieve schema info for the given result set:\n", ODBC_LABEL);
  SQLSMALLINT columns = 0;
  SQLNumResultCols(statement, &columns);
  if (columns <= 0) {
    narrate("%s: Error: Number of fields in the result set is 0.\n", ODBC_LABEL);
    return;
  }
  std::string names;
  for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(columns); ++column) {
    char16_t name[256] = {};
    SQLDescribeColW(statement, column, sqlw(name), 256, nullptr, nullptr, nullptr, nullptr, nullptr);
    names += " | ";
    names += utf8(name);
  }
  narrate("%s\n", names.c_str());
}

// Up to the first three columns of the current row, as text.
void print_row(SQLHSTMT statement) {
  char fields[3][64] = {};
  SQLSMALLINT columns = 0;
  SQLNumResultCols(statement, &columns);
  for (SQLUSMALLINT column = 1; column <= 3 && column <= columns; ++column) {
    SQLLEN indicator = 0;
    SQLGetData(statement, column, SQL_C_CHAR, fields[column - 1], sizeof fields[0], &indicator);
    if (indicator == SQL_NULL_DATA) fields[column - 1][0] = 0;
  }
  narrate(" | %s | %s | %s\n", fields[0], fields[1], fields[2]);
}

void bind_columns(SQLHSTMT statement, ColumnBinding* bindings, int count, std::uint32_t only) {
  for (int i = 0; i < count; ++i) {
    if ((only >> i & 1u) == 0) continue;
    SQLBindCol(statement, static_cast<SQLUSMALLINT>(i + 1), bindings[i].c_type, bindings[i].target,
               bindings[i].buffer_length, &bindings[i].indicator);
  }
}

void unbind_columns(SQLHSTMT statement, ColumnBinding* bindings, int count, std::uint32_t only) {
  for (int i = 0; i < count; ++i) {
    if ((only >> i & 1u) == 0) continue;
    SQLBindCol(statement, static_cast<SQLUSMALLINT>(i + 1), bindings[i].c_type, nullptr, 0, nullptr);
  }
}

}  // namespace

SQLRETURN db_connect(SQLHDBC* hdbc_out, bool open) {
  if (!open) {
    SQLDisconnect(g_db.connection);
    release_handles();
    g_db.connected = false;
    narrate("ODBC: Cleanup. Done.\n");
    return SQL_SUCCESS;
  }
  if (g_db.connected) {
    if (hdbc_out == nullptr) return SQL_ERROR;
    *hdbc_out = g_db.connection;
    return SQL_SUCCESS;
  }
  SQLAllocEnv(&g_db.environment);
  SQLAllocConnect(g_db.environment, &g_db.connection);
  char16_t completed[256] = {};
  SQLSMALLINT completed_length = 0;
  SQLRETURN code = SQLDriverConnectW(g_db.connection, nullptr, sqlw(LIBRARY_CONNECTION_STRING), SQL_NTS,
                                     sqlw(completed), 255, &completed_length, SQL_DRIVER_NOPROMPT);
  if (!sql_succeeded(code)) {
    // Nothing is kept from a failed opening; the next operation starts afresh.
    release_handles();
    return code;
  }
  g_db.connected = true;
  g_db.is_sqlite = dbms_is_sqlite(g_db.connection);
  if (g_db.is_sqlite) db_run_quietly(SQLITE_CACHE_PRAGMA);
  if (hdbc_out != nullptr) *hdbc_out = g_db.connection;
  narrate("%s: Successfully connected to database. Data source name: \n  %s\n", ODBC_LABEL, utf8(completed).c_str());
  return code;
}

bool db_is_sqlite() { return g_db.connected && g_db.is_sqlite; }

bool db_run_quietly(const char* sql) {
  if (!g_db.connected) return false;
  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!sql_succeeded(SQLAllocHandle(SQL_HANDLE_STMT, g_db.connection, &statement))) return false;
  const bool ran = sql_succeeded(SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS));
  SQLFreeHandle(SQL_HANDLE_STMT, statement);
  return ran;
}

SQLRETURN db_execute(const char16_t* sql) {
  OwnedStatement statement;
  SQLRETURN code = connect_and_prepare(sql, statement);
  if (statement.get() != SQL_NULL_HSTMT && sql_succeeded(code)) code = SQLExecute(statement.get());
  if (statement.get() != SQL_NULL_HSTMT && sql_succeeded(code)) {
    print_schema(statement.get());
    narrate("%s: Fetch the actual data:\n", ODBC_LABEL);
    int rows = 0;
    for (code = SQLFetch(statement.get()); sql_succeeded(code); code = SQLFetch(statement.get())) {
      print_row(statement.get());
      ++rows;
    }
    narrate("%s: Total Row Count: %d\n", ODBC_LABEL, rows);
    code = statement.drop();
  } else if (code == SQL_ERROR && statement.get() != SQL_NULL_HSTMT) {
    report_diagnostic(statement.get());
  }
  print_done();
  return code;
}

SQLRETURN db_query(const char16_t* sql, ColumnBinding* bindings, int count, SQLHSTMT* stmt_out) {
  OwnedStatement statement;
  SQLRETURN code = connect_and_prepare(sql, statement);
  if (statement.get() == SQL_NULL_HSTMT) {
    print_done();
    return code;
  }
  if (sql_succeeded(code)) {
    bind_columns(statement.get(), bindings, count, ~0u);
    code = SQLExecute(statement.get());
  }
  SQLHSTMT executed = SQL_NULL_HSTMT;
  if (sql_succeeded(code)) {
    print_schema(statement.get());
    narrate("%s: Fetch the actual data:\n", ODBC_LABEL);
    code = SQLFetch(statement.get());
    executed = statement.get();
  }
  if (code == SQL_SUCCESS_WITH_INFO || code == SQL_ERROR) report_diagnostic(statement.get());
  if (executed != SQL_NULL_HSTMT && stmt_out != nullptr) *stmt_out = statement.hand_out();
  print_done();
  return code;
}

SQLRETURN fetch_ahead(SQLHSTMT statement, ColumnBinding* bindings, int count, std::uint64_t rows,
                      std::uint32_t landing_only) {
  SQLRETURN code = SQL_SUCCESS;
  if (rows > 1) {
    unbind_columns(statement, bindings, count, landing_only);
    for (; rows > 1 && sql_succeeded(code); --rows) code = SQLFetch(statement);
    bind_columns(statement, bindings, count, landing_only);
  }
  if (rows > 0 && sql_succeeded(code)) code = SQLFetch(statement);
  return code;
}

void release_statement(SQLHSTMT& statement, SQLRETURN& code) {
  if (statement == SQL_NULL_HSTMT) return;
  code = SQLFreeStmt(statement, SQL_DROP);
  statement = SQL_NULL_HSTMT;
  if (sql_succeeded(code)) code = SQL_NO_DATA;
}

}  // namespace zv
