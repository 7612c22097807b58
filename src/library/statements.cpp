#include "library/statements.h"

#include <charconv>
#include <cstdio>

#include "library/database.h"
#include "platform/console.h"

namespace zv {

namespace {

// Writes into the statement while there is room; remembers when there was not.
class StatementWriter {
 public:
  explicit StatementWriter(StatementBuffer& statement) : statement_(statement) {}

  void put(char16_t c) {
    if (length_ + 1 < STATEMENT_CAPACITY) {
      statement_[length_++] = c;
    } else {
      overflow_ = true;
    }
  }
  void put_ascii(const char* text, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) put(static_cast<char16_t>(text[i]));
  }
  void put_text(const char16_t* text) {
    for (; *text != 0 && !overflow_; ++text) put(*text);
  }
  bool finish() {
    statement_[overflow_ ? 0 : length_] = 0;
    return !overflow_;
  }

 private:
  StatementBuffer& statement_;
  std::size_t length_ = 0;
  bool overflow_ = false;
};

template <typename Integer>
void put_integer(StatementWriter& out, Integer value) {
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.put_ascii(digits, static_cast<std::size_t>(result.ptr - digits));
}

// Always a point before the decimals, whatever the locale.
void put_real(StatementWriter& out, double value) {
  char digits[512];  // six decimals of the largest double need 317
  auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
  out.put_ascii(digits, static_cast<std::size_t>(result.ptr - digits));
}

// Length of `prefix` when `text` starts with it, otherwise 0.
std::size_t prefix_length(const char16_t* text, const char16_t* prefix) {
  std::size_t n = 0;
  for (; prefix[n] != 0; ++n) {
    if (text[n] != prefix[n]) return 0;
  }
  return n;
}

struct Placeholder {
  const char16_t* text;  // after the '%'
  StatementArg::Kind kind;
};
constexpr Placeholder PLACEHOLDERS[] = {
    {u"d", StatementArg::Kind::signed_int},
    {u"u", StatementArg::Kind::unsigned_int},
    {u"s", StatementArg::Kind::text},
    {u".6f", StatementArg::Kind::real},
};

}  // namespace

bool format_statement(StatementBuffer& statement, const char16_t* format,
                      std::initializer_list<StatementArg> args) {
  StatementWriter out(statement);
  const StatementArg* next = args.begin();
  bool matched = format != nullptr;
  for (const char16_t* p = format; matched && *p != 0; ++p) {
    if (*p != u'%') {
      out.put(*p);
      continue;
    }
    if (p[1] == u'%') {
      out.put(u'%');
      ++p;
      continue;
    }
    using Kind = StatementArg::Kind;
    const Placeholder* placeholder = nullptr;
    std::size_t length = 0;
    for (const Placeholder& known : PLACEHOLDERS) {
      if ((length = prefix_length(p + 1, known.text)) != 0) {
        placeholder = &known;
        break;
      }
    }
    if (placeholder == nullptr || next == args.end() || next->kind() != placeholder->kind ||
        (next->kind() == Kind::text && next->text_value() == nullptr)) {
      matched = false;
      break;
    }
    switch (placeholder->kind) {
      case Kind::signed_int: put_integer(out, next->signed_value()); break;
      case Kind::unsigned_int: put_integer(out, next->unsigned_value()); break;
      case Kind::real: put_real(out, next->real_value()); break;
      case Kind::text: out.put_text(next->text_value()); break;
    }
    ++next;
    p += length;
  }
  matched = matched && next == args.end();
  bool fits = out.finish();
  if (!matched) {
    statement[0] = 0;
    narrate("%s: Statement not run: its values do not match its text.\n", ODBC_LABEL);
    return false;
  }
  if (!fits) {
    narrate("%s: Statement not run: longer than %d characters.\n", ODBC_LABEL,
            static_cast<int>(STATEMENT_CAPACITY - 1));
    return false;
  }
  return true;
}

SQLRETURN execute_statement(StatementBuffer& statement, const char16_t* format,
                            std::initializer_list<StatementArg> args) {
  if (!format_statement(statement, format, args)) return SQL_ERROR;
  return db_execute(statement);
}

SQLRETURN query_statement(StatementBuffer& statement, const char16_t* format,
                          std::initializer_list<StatementArg> args, ColumnBinding* bindings, int count,
                          SQLHSTMT* stmt_out) {
  *stmt_out = SQL_NULL_HSTMT;
  if (!format_statement(statement, format, args)) return SQL_ERROR;
  return db_query(statement, bindings, count, stmt_out);
}

}  // namespace zv
