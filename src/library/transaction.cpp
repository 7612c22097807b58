#include "library/transaction.h"

#include "library/database.h"

namespace zv {

namespace {

bool set_autocommit(SQLHDBC connection, bool on) {
  const auto value = static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF);
  return sql_succeeded(SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0));
}

}  // namespace

LibraryTransaction::LibraryTransaction() {
  SQLHDBC connection = SQL_NULL_HDBC;
  if (!sql_succeeded(db_connect(&connection, true))) return;
  if (db_is_sqlite()) {
    // SQLite takes the write lock at the start: a transaction that first
    // reads and writes later could not take it at its first write once
    // another program had committed in between, and every write after would
    // fail. Taken here, it waits for the other writer (the data source's
    // lock timeout) instead. Readers go on reading meanwhile.
    if (db_run_quietly("begin immediate")) {
      connection_ = connection;
      immediate_ = true;
    }
    return;
  }
  if (set_autocommit(connection, false)) connection_ = connection;
}

LibraryTransaction::~LibraryTransaction() {
  if (!started()) return;
  if (immediate_) {
    if (!committed_) db_run_quietly("rollback");
    return;
  }
  if (!committed_) SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_ROLLBACK);
  set_autocommit(connection_, true);
}

bool LibraryTransaction::commit() {
  if (!started() || committed_) return committed_;
  committed_ = immediate_ ? db_run_quietly("commit")
                          : sql_succeeded(SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_COMMIT));
  return committed_;
}

}  // namespace zv
