#include "library/folder_import.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hostinfo/folder_listing.h"
#include "library/database.h"
#include "library/statements.h"
#include "library/transaction.h"
#include "platform/block_narration.h"
#include "platform/console.h"
#include "text/encoding.h"

namespace zv {

namespace {

// Folder backgrounds by dir_order mod 16, red in the low byte. 1 and 8, and
// 4 and 12, are the same colour.
constexpr std::int32_t FOLDER_PALETTE[16] = {
    15794160, 3145645,  16118015, 16777184, 12695295, 16449525, 11920639, 14020607,
    3145645,  15794175, 13826810, 15134970, 12695295, 42495,    10025880, 13353215,
};
constexpr std::int32_t FOLDER_COLOR = 16711680;  // blue
constexpr unsigned IMPORT_SCAN_FLAGS = LIST_FILES | LIST_RECURSE | LIST_FULL_PATH;
constexpr const char* FOUND_FILES_NAME = "out.txt";
// Songs are committed a folder at a time, and at least every this many files,
// so the pages and the player see a long import's progress.
constexpr int FILES_PER_COMMIT = 500;

bool mark_set(const char16_t* value) { return value != nullptr && value[0] == u'1'; }

ColumnBinding long_binding(std::int32_t& target) { return ColumnBinding{SQL_C_LONG, &target, 0, 0}; }

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// The raw UTF-16LE bytes of the list, whatever the host's byte order.
void write_utf16le(std::FILE* file, const WideTextBuffer& list) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(list.length()) * 2);
  for (std::uint32_t i = 0; i < list.length(); ++i) {
    bytes.push_back(static_cast<char>(list.data()[i] & 0xFF));
    bytes.push_back(static_cast<char>(list.data()[i] >> 8));
  }
  std::fwrite(bytes.data(), 1, bytes.size(), file);
}

// Everything one import works with: the statement buffer and the escape
// buffer are reused for every statement.
class Import {
 public:
  Import(bool is_playlist, bool is_ads, bool is_jingle)
      : is_playlist_(is_playlist), is_ads_(is_ads), is_jingle_(is_jingle) {}

  // Finds the folder's row, or registers it. Leaves song_dir_id_ 0 when the
  // folder could be neither found nor registered.
  void register_folder(const std::u16string& dir_name);
  // Adds the list's files that the library does not know and adopts those
  // that belong to no folder.
  void register_songs(const WideTextBuffer& list);
  std::int32_t song_dir_id() const { return song_dir_id_; }

 private:
  const char16_t* escaped(const char16_t* text) { return sql_escape_quotes(text, escape_buffer_); }
  void register_song(const std::u16string& song_name);

  bool is_playlist_, is_ads_, is_jingle_;
  std::int32_t song_dir_id_ = 0;
  std::int32_t play_count_ = 0;
  StatementBuffer statement_{};
  std::u16string escape_buffer_;
};

void Import::register_folder(const std::u16string& dir_name) {
  std::int32_t dir_order = 0;
  std::int32_t found_is_ads = 0;
  ColumnBinding folder_columns[] = {long_binding(song_dir_id_), long_binding(dir_order),
                                    long_binding(play_count_), long_binding(found_is_ads)};
  SQLHSTMT handle = SQL_NULL_HSTMT;
  SQLRETURN code = query_statement(statement_, SQL_FIND_FOLDER, {escaped(dir_name.c_str())}, folder_columns, 4,
                                   &handle);
  if (sql_succeeded(code)) {
    // A known folder keeps its row and play count; only its marks change.
    release_statement(handle, code);
    execute_statement(statement_, SQL_UPDATE_FOLDER_MARKS, {is_playlist_, is_ads_, is_jingle_, song_dir_id_});
    return;
  }
  release_statement(handle, code);
  song_dir_id_ = 0;
  ColumnBinding order_column[] = {long_binding(dir_order)};
  // max() over an empty table is NULL: the first folder gets dir_order 1.
  dir_order = 0;
  code = query_statement(statement_, SQL_MAX_DIR_ORDER, {}, order_column, 1, &handle);
  if (!sql_succeeded(code) || column_is_null(order_column[0])) dir_order = 0;
  release_statement(handle, code);
  dir_order = static_cast<std::int32_t>(static_cast<std::uint32_t>(dir_order) + 1u);
  play_count_ = 0;
  code = execute_statement(statement_, SQL_INSERT_FOLDER,
                           {dir_order, is_playlist_, is_ads_, is_jingle_, escaped(dir_name.c_str()), play_count_,
                            FOLDER_COLOR, folder_background(dir_order)});
  if (!sql_succeeded(code)) return;
  ColumnBinding identity_column[] = {long_binding(song_dir_id_)};
  code = query_statement(statement_, SQL_LAST_IDENTITY, {}, identity_column, 1, &handle);
  if (!sql_succeeded(code)) song_dir_id_ = 0;
  release_statement(handle, code);
}

void Import::register_song(const std::u16string& song_name) {
  // A NULL folder id means "no folder", never the previous song's folder.
  std::int32_t song_id = 0;
  std::int32_t found_dir_id = 0;
  ColumnBinding song_columns[] = {long_binding(song_id), long_binding(found_dir_id)};
  SQLHSTMT handle = SQL_NULL_HSTMT;
  const char16_t* name = escaped(song_name.c_str());
  SQLRETURN code = query_statement(statement_, SQL_FIND_SONG, {name}, song_columns, 2, &handle);
  if (!sql_succeeded(code)) {
    release_statement(handle, code);
    execute_statement(statement_, SQL_INSERT_SONG,
                      {song_dir_id_, name, 0.0, 0, 0, 0, 0, 0, play_count_, 0});
  } else if (found_dir_id == 0 || column_is_null(song_columns[1])) {
    release_statement(handle, code);
    execute_statement(statement_, SQL_ADOPT_SONG, {song_dir_id_, song_id});
  }
  release_statement(handle, code);
}

void Import::register_songs(const WideTextBuffer& list) {
  const char16_t* text = list.data();
  std::optional<LibraryTransaction> batch;
  std::u16string_view batch_folder;
  int batch_files = 0;
  std::uint32_t start = 0;
  for (std::uint32_t i = 0; i < list.length(); ++i) {
    if (text[i] != u'\n') continue;
    const std::u16string_view name(text + start, i - start);
    start = i + 1;
    if (name.empty()) continue;
    const std::u16string_view folder = name.substr(0, name.find_last_of(u"/\\") + 1);
    if (!batch || folder != batch_folder || batch_files == FILES_PER_COMMIT) {
      if (batch) batch->commit();
      batch.emplace();  // the last part's transaction has ended first
      batch_folder = folder;
      batch_files = 0;
    }
    register_song(std::u16string(name));
    ++batch_files;
  }
  if (batch) batch->commit();
}

}  // namespace

std::int32_t folder_background(std::int32_t dir_order) {
  return FOLDER_PALETTE[static_cast<std::uint32_t>(dir_order) % 16];
}

const char16_t* sql_escape_quotes(const char16_t* text, std::u16string& buffer) {
  if (text == nullptr) return nullptr;
  std::u16string_view view(text);
  if (view.find(u'\'') == std::u16string_view::npos) return text;
  buffer.clear();
  buffer.reserve(view.size() * 2);
  for (char16_t c : view) {
    buffer.push_back(c);
    if (c == u'\'') buffer.push_back(c);
  }
  return buffer.c_str();
}

void import_music_folder(const char16_t* folder, const char16_t* is_ads_value, const char16_t* is_jingle_value) {
  if (folder == nullptr) return;
  const bool is_ads = mark_set(is_ads_value);
  const bool is_jingle = mark_set(is_jingle_value);
  const bool is_playlist = !is_ads && !is_jingle;
  const BlockNarration narration;  // an import narrates every file it meets

  WideTextBuffer mp3_list;
  WideTextBuffer wav_list;
  const std::optional<std::u16string> dir_name = folder_path_native(folder);
  if (dir_name && !refuse_line_break(dir_name->c_str(), u"")) {
    scan_folder_files(&mp3_list, dir_name->c_str(), u"", u"", u"*.*", IMPORT_SCAN_FLAGS, u".mp3");
    scan_folder_files(&wav_list, dir_name->c_str(), u"", u"", u"*.*", IMPORT_SCAN_FLAGS, u".wav");
  }
  // A folder without audio files leaves the library and out.txt alone.
  if (mp3_list.length() == 0 && wav_list.length() == 0) return;

  Import import(is_playlist, is_ads, is_jingle);
  import.register_folder(*dir_name);

  // The lists of found files, for the station's other programs.
  OwnedFile found_files(std::fopen(FOUND_FILES_NAME, "wb"));
  if (!found_files) narrate("%s could not be written; the import goes on without it.\n", FOUND_FILES_NAME);
  if (import.song_dir_id() == 0) return;
  for (const WideTextBuffer* list : {&mp3_list, &wav_list}) {
    if (list->length() == 0) continue;
    if (found_files) write_utf16le(found_files.get(), *list);
    import.register_songs(*list);
  }
}

}  // namespace zv
