#pragma once
// The library's statements for the modules above it. Results are read into
// the caller's own variables a row at a time; no ODBC type leaves library/.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "library/statements.h"

namespace zv {

// Where one result column goes: the i-th Column of a statement receives its
// column i + 1.
class Column {
 public:
  enum class Type { integer, real, text };
  Column(std::int32_t& value) : type_(Type::integer), target_(&value) {}
  Column(double& value) : type_(Type::real), target_(&value) {}
  // Up to `length` bytes of text as the library holds it, always terminated
  // within them.
  Column(char* text, std::size_t length) : type_(Type::text), target_(text), length_(length) {}

  Type type() const { return type_; }
  void* target() const { return target_; }
  std::size_t length() const { return length_; }

 private:
  Type type_;
  void* target_;
  std::size_t length_ = 0;
};

inline constexpr int MAX_COLUMNS = 8;

// What a prepared statement's "?" stands for: a whole number, a real one,
// UTF-16 or UTF-8 text (the caller keeps it until the statement has run), or
// NULL.
class Value {
 public:
  Value(std::int64_t number) : number_(number) {}
  Value(std::u16string_view text) : text_(text), kind_(Kind::text) {}
  Value(const std::string& utf8) : utf8_(utf8), kind_(Kind::utf8) {}
  static Value real(double number) {
    Value value(0);
    value.real_ = number;
    value.kind_ = Kind::real;
    return value;
  }
  static Value null() {
    Value value(0);
    value.kind_ = Kind::null;
    return value;
  }

  enum class Kind { number, real, text, utf8, null };
  Kind kind() const { return kind_; }
  std::int64_t number() const { return number_; }
  double real() const { return real_; }
  std::u16string_view text() const { return text_; }
  std::string_view utf8() const { return utf8_; }

 private:
  std::int64_t number_ = 0;
  double real_ = 0;
  std::u16string_view text_;
  std::string_view utf8_;
  Kind kind_ = Kind::number;
};

// A statement on the library's one connection, narrated as every statement
// of the server is. At most one statement is held; a new run releases it.
class Query {
 public:
  Query();
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // Fills `format` with `args` and runs it with `columns` bound (at most
  // MAX_COLUMNS); the first row, when there is one, is then in the columns.
  // A statement that does not fit its buffer is not run and counts as failed.
  void run(const char16_t* format, std::initializer_list<StatementArg> args, std::initializer_list<Column> columns);
  // The next row into the columns.
  void next();
  // Moves `rows` rows on, stopping at the first read that fails. The columns
  // whose bit is set in `landing_only` are filled from the row it lands on
  // only: the rows passed over are not converted into them.
  void skip(std::uint64_t rows, std::uint32_t landing_only);
  // Drops the statement held; when that succeeds the query counts as ended.
  void release();

  bool on_row() const;  // the last step gave a row
  bool ended() const;   // the last step found no more rows
  bool failed() const { return !on_row() && !ended(); }
  // Whether the row last read holds NULL in column `column` (0 is the first).
  bool is_null(int column) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Runs a statement whose rows are of no interest (an insert, an update) on the
// library's one connection, narrated. True when it ran.
bool execute(const char16_t* format, std::initializer_list<StatementArg> args = {});

// Closes the library's one connection; the next statement opens it afresh.
void close_library();

// A connection to the library of its own, for a thread that must not share
// the one connection. Its statements are not narrated.
class LibraryConnection {
 public:
  LibraryConnection() = default;
  ~LibraryConnection() { close(); }
  LibraryConnection(const LibraryConnection&) = delete;
  LibraryConnection& operator=(const LibraryConnection&) = delete;

  // Connects unless connected. True when connected.
  bool open();
  void close();

 private:
  friend class Statement;
  void* environment_ = nullptr;
  void* connection_ = nullptr;
};

// A statement of the station's own, prepared once and run again with new
// values for its "?" placeholders, not narrated: reads that must be cheap and
// writes of the player's own.
class Statement {
 public:
  // On `connection`, or on the library's one connection when it is null
  // (connecting it when needed).
  Statement(LibraryConnection* connection, const char* sql, std::initializer_list<Column> columns = {});
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Runs it with `values` for its placeholders, in order. True when it ran;
  // its rows are then read with next().
  bool run(std::initializer_list<Value> values = {});
  // The next row into the columns; false at the end or when the read fails.
  bool next();
  bool failed() const;  // the last run or read failed
  bool is_null(int column) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zv
