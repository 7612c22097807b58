#include "library/query.h"

#include <algorithm>
#include <vector>

#include "library/database.h"

namespace zv {
namespace {

ColumnBinding binding_of(const Column& column) {
  ColumnBinding binding;
  binding.target = column.target();
  switch (column.type()) {
    case Column::Type::integer:
      binding.c_type = SQL_C_LONG;
      break;
    case Column::Type::real:
      binding.c_type = SQL_C_DOUBLE;
      break;
    case Column::Type::text:
      binding.c_type = SQL_C_CHAR;
      binding.buffer_length = static_cast<SQLLEN>(column.length());
      break;
  }
  return binding;
}

// The columns as bindings; those beyond MAX_COLUMNS are not bound.
int bind_into(ColumnBinding (&bindings)[MAX_COLUMNS], std::initializer_list<Column> columns) {
  int count = 0;
  for (const Column& column : columns) {
    if (count == MAX_COLUMNS) break;
    bindings[count++] = binding_of(column);
  }
  return count;
}

}  // namespace

struct Query::State {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN code = SQL_NO_DATA;
  ColumnBinding bindings[MAX_COLUMNS];
  int count = 0;
};

Query::Query() : state_(std::make_unique<State>()) {}

Query::~Query() { release(); }

void Query::run(const char16_t* format, std::initializer_list<StatementArg> args,
                std::initializer_list<Column> columns) {
  release();
  state_->count = bind_into(state_->bindings, columns);
  StatementBuffer sql;
  state_->code = format_statement(sql, format, args)
                     ? db_query(sql, state_->bindings, state_->count, &state_->statement)
                     : SQL_ERROR;
}

void Query::next() { state_->code = SQLFetch(state_->statement); }

void Query::skip(std::uint64_t rows, std::uint32_t landing_only) {
  state_->code = fetch_ahead(state_->statement, state_->bindings, state_->count, rows, landing_only);
}

void Query::release() { release_statement(state_->statement, state_->code); }

bool Query::on_row() const { return sql_succeeded(state_->code); }

bool Query::ended() const { return state_->code == SQL_NO_DATA; }

bool Query::is_null(int column) const {
  return column >= 0 && column < state_->count && column_is_null(state_->bindings[column]);
}

bool execute(const char16_t* format, std::initializer_list<StatementArg> args) {
  StatementBuffer sql;
  return sql_succeeded(execute_statement(sql, format, args));
}

void close_library() { db_connect(nullptr, false); }

bool LibraryConnection::open() {
  if (connection_) return true;
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment);
  SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection);
  auto* text = reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(LIBRARY_CONNECTION_STRING));
  if (!sql_succeeded(SQLDriverConnectW(connection, nullptr, text, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    return false;
  }
  environment_ = environment;
  connection_ = connection;
  return true;
}

void LibraryConnection::close() {
  if (connection_) {
    SQLDisconnect(connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, connection_);
  }
  if (environment_) SQLFreeHandle(SQL_HANDLE_ENV, environment_);
  connection_ = environment_ = nullptr;
}

struct Statement::State {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLRETURN code = SQL_ERROR;
  ColumnBinding bindings[MAX_COLUMNS];
  int count = 0;
  std::vector<SQLBIGINT> values;
  std::vector<SQLDOUBLE> reals;
  std::vector<SQLLEN> lengths;
};

Statement::Statement(LibraryConnection* connection, const char* sql, std::initializer_list<Column> columns)
    : state_(std::make_unique<State>()) {
  SQLHDBC handle = SQL_NULL_HDBC;
  if (connection) {
    if (connection->open()) handle = connection->connection_;
  } else if (!sql_succeeded(db_connect(&handle, true))) {
    handle = SQL_NULL_HDBC;
  }
  if (handle == SQL_NULL_HDBC) return;
  if (!sql_succeeded(SQLAllocHandle(SQL_HANDLE_STMT, handle, &state_->statement))) {
    state_->statement = SQL_NULL_HSTMT;
    return;
  }
  if (!sql_succeeded(SQLPrepare(state_->statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS))) {
    SQLFreeHandle(SQL_HANDLE_STMT, state_->statement);
    state_->statement = SQL_NULL_HSTMT;
    return;
  }
  state_->count = bind_into(state_->bindings, columns);
  for (int i = 0; i < state_->count; ++i) {
    ColumnBinding& column = state_->bindings[i];
    SQLBindCol(state_->statement, static_cast<SQLUSMALLINT>(i + 1), column.c_type, column.target, column.buffer_length,
               &column.indicator);
  }
}

Statement::~Statement() {
  if (state_->statement != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, state_->statement);
}

bool Statement::run(std::initializer_list<Value> values) {
  state_->code = SQL_ERROR;
  if (state_->statement == SQL_NULL_HSTMT) return false;
  SQLFreeStmt(state_->statement, SQL_CLOSE);
  // The driver reads the values when the statement runs: sized before any is
  // bound, so none moves until then.
  state_->values.assign(values.size(), 0);
  state_->reals.assign(values.size(), 0);
  state_->lengths.assign(values.size(), 0);
  static const char16_t nothing[] = u"";
  static const char nothing_utf8[] = "";
  SQLUSMALLINT number = 0;
  for (const Value& value : values) {
    const int at = number++;
    SQLLEN& length = state_->lengths[at];
    if (value.kind() == Value::Kind::text) {
      const std::u16string_view text = value.text();
      length = static_cast<SQLLEN>(text.size() * sizeof(char16_t));
      auto* data = const_cast<char16_t*>(text.empty() ? nothing : text.data());
      SQLBindParameter(state_->statement, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                       std::max<SQLULEN>(text.size(), 1), 0, data, length, &length);
      continue;
    }
    if (value.kind() == Value::Kind::utf8) {
      const std::string_view text = value.utf8();
      length = static_cast<SQLLEN>(text.size());
      auto* data = const_cast<char*>(text.empty() ? nothing_utf8 : text.data());
      SQLBindParameter(state_->statement, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                       std::max<SQLULEN>(text.size(), 1), 0, data, length, &length);
      continue;
    }
    if (value.kind() == Value::Kind::real) {
      state_->reals[at] = value.real();
      length = 0;
      SQLBindParameter(state_->statement, number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &state_->reals[at],
                       0, &length);
      continue;
    }
    state_->values[at] = value.number();
    length = value.kind() == Value::Kind::null ? SQL_NULL_DATA : 0;
    SQLBindParameter(state_->statement, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &state_->values[at],
                     0, &length);
  }
  state_->code = SQLExecute(state_->statement);
  return sql_succeeded(state_->code);
}

bool Statement::next() {
  if (state_->statement == SQL_NULL_HSTMT || !sql_succeeded(state_->code)) return false;
  state_->code = SQLFetch(state_->statement);
  return sql_succeeded(state_->code);
}

bool Statement::failed() const { return state_->code != SQL_NO_DATA && !sql_succeeded(state_->code); }

bool Statement::is_null(int column) const {
  return column >= 0 && column < state_->count && column_is_null(state_->bindings[column]);
}

}  // namespace zv
