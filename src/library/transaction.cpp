#include "library/transaction.h"

namespace zv {

namespace {

bool set_autocommit(SQLHDBC connection, bool on) {
  const auto value = static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF);
  return sql_succeeded(SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0));
}

}  // namespace

LibraryTransaction::LibraryTransaction() {
  SQLHDBC connection = SQL_NULL_HDBC;
  if (sql_succeeded(db_connect(&connection, true)) && set_autocommit(connection, false)) connection_ = connection;
}

LibraryTransaction::~LibraryTransaction() {
  if (!started()) return;
  if (!committed_) SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_ROLLBACK);
  set_autocommit(connection_, true);
}

bool LibraryTransaction::commit() {
  committed_ = started() && sql_succeeded(SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_COMMIT));
  return committed_;
}

}  // namespace zv
