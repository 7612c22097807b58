#pragma once
// One row of the library's song statements: song_id, song_name, play_count,
// bound in that order.

#include <cstdint>

#include "library/database.h"
#include "library/statements.h"

namespace zv {

struct SongRow {
  SongRow() {
    bindings[0] = {SQL_C_LONG, &song_id, 0, 0};
    bindings[1] = {SQL_C_CHAR, song_name, static_cast<SQLLEN>(TEXT_COLUMN_LENGTH), 0};
    bindings[2] = {SQL_C_LONG, &play_count, 0, 0};
  }
  SongRow(const SongRow&) = delete;  // the bindings point into the row
  SongRow& operator=(const SongRow&) = delete;

  // The bindings a row passed over need not fill (see fetch_ahead).
  static constexpr std::uint32_t NAME_AND_ID = 0b011;

  std::int32_t song_id = 0;
  char song_name[TEXT_COLUMN_LENGTH + 2] = {};  // always terminated
  std::int32_t play_count = 0;
  ColumnBinding bindings[3];
};

}  // namespace zv
