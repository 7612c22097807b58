#pragma once
// The music library's one process-wide ODBC connection, opened on first use,
// and the statements run over it. Every step is narrated on the console under
// the label "Direct ODBC".

#include <cstdint>

#include "library/odbc.h"
#include "library/statements.h"

namespace zv {

// The library file in the working directory: the driver finds it there.
inline constexpr char16_t LIBRARY_CONNECTION_STRING[] =
    u"Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=base2.mdb;";

// Heads every line the database operations print.
inline constexpr const char* ODBC_LABEL = "Direct ODBC";

// One result-column binding: record i binds column i + 1. A record left all
// zero binds nothing. For a NULL value the driver sets the indicator to
// SQL_NULL_DATA; what it leaves in the target is the driver's (the SQLite
// driver writes 0 into an integer), so a caller that must tell NULL from a
// value reads the indicator (column_is_null).
struct ColumnBinding {
  SQLSMALLINT c_type = 0;  // SQL_C_LONG or SQL_C_CHAR
  SQLPOINTER target = nullptr;
  SQLLEN buffer_length = 0;
  SQLLEN indicator = 0;
};

// Whether the row last fetched holds NULL in the binding's column.
inline bool column_is_null(const ColumnBinding& binding) { return binding.indicator == SQL_NULL_DATA; }

inline bool sql_succeeded(SQLRETURN code) { return (code & ~1) == 0; }

SQLRETURN db_connect(SQLHDBC* hdbc_out, bool open);
SQLRETURN db_execute(const char16_t* sql);
// Runs a SELECT, fetches its first row into the bindings and hands the
// statement to the caller (through stmt_out) when execution succeeded.
SQLRETURN db_query(const char16_t* sql, ColumnBinding* bindings, int count, SQLHSTMT* stmt_out);
// Moves `rows` rows on through the statement's result, stopping at the first
// fetch that fails, and returns that fetch's code. The bindings whose bit is
// set in `landing_only` are filled only from the row it lands on: the rows
// passed over are not converted into them. Re-binds `bindings` as it found them.
SQLRETURN fetch_ahead(SQLHSTMT statement, ColumnBinding* bindings, int count, std::uint64_t rows,
                      std::uint32_t landing_only);
// Whether the open connection is to SQLite (false while none is open).
bool db_is_sqlite();
// A statement of the connection's own upkeep (a setting, a transaction's
// begin or end), not narrated, on the open connection. True when it ran.
bool db_run_quietly(const char* sql);
// Drops the caller's statement, if any; `code` becomes 100 when that succeeded.
void release_statement(SQLHSTMT& statement, SQLRETURN& code);

// format_statement, then db_execute. A statement that was not filled is not
// run and gives SQL_ERROR.
SQLRETURN execute_statement(StatementBuffer& statement, const char16_t* format,
                            std::initializer_list<StatementArg> args = {});
// format_statement, then db_query. `stmt_out` is set to null first, so a
// statement that was not filled or run leaves nothing to release.
SQLRETURN query_statement(StatementBuffer& statement, const char16_t* format, std::initializer_list<StatementArg> args,
                          ColumnBinding* bindings, int count, SQLHSTMT* stmt_out);

}  // namespace zv
