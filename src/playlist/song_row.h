#pragma once
// One row of the library's song statements: song_id, song_name, play_count,
// read in that order.

#include <cstdint>
#include <initializer_list>

#include "library/query.h"
#include "library/statements.h"

namespace zv {

struct SongRow {
  SongRow() = default;
  SongRow(const SongRow&) = delete;  // a query reads into the row
  SongRow& operator=(const SongRow&) = delete;

  // Runs a song statement with its rows read into this one.
  void run(Query& query, const char16_t* format, std::initializer_list<StatementArg> args) {
    query.run(format, args, {Column(song_id), Column(song_name, TEXT_COLUMN_LENGTH), Column(play_count)});
  }

  // The columns a row passed over need not fill (see Query::skip).
  static constexpr std::uint32_t NAME_AND_ID = 0b011;

  std::int32_t song_id = 0;
  char song_name[TEXT_COLUMN_LENGTH + 2] = {};  // always terminated
  std::int32_t play_count = 0;
};

}  // namespace zv
