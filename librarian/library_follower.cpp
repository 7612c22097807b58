#include "library_follower.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>

#include "hostinfo/folder_listing.h"
#include "library/folder_import.h"
#include "library/query.h"
#include "library/transaction.h"
#include "platform/console.h"
#include "platform/folder_walk.h"
#include "platform/folder_watch.h"
#include "platform/narration_batch.h"
#include "text/encoding.h"
#include "text/text_buffer.h"

namespace zv::librarian {
namespace {

constexpr std::size_t NAME_BYTES = 4096;
constexpr unsigned FILE_FLAGS = LIST_FILES | LIST_RECURSE | LIST_FULL_PATH;
// Songs indexed for the search in one transaction: short enough that an
// import waiting for the library is not held up for long.
constexpr int SEARCH_BATCH = 20000;
const std::string SONG_COLUMNS =
    "song_id, song_dir_id, song_name, replay_gain, sm_count, sm_fade_in, sm_fade_out, file_size, sec_count, "
    "play_count, play_time";

struct File {
  std::int32_t folder = 0;  // song_dir_id of the library folder it is in
  std::optional<FileFacts> facts;
};

// The librarian's own statements are prepared and not narrated: it says
// what it did to the songs, not how it asked the library.
bool run(const std::string& sql, std::initializer_list<Value> values = {}) {
  Statement statement(nullptr, sql.c_str());
  return statement.run(values);
}

// Songs of the statement's table in `folder`, by name.
void read_songs(const char* sql, std::int32_t folder, std::map<std::u16string, std::int32_t>& songs) {
  std::int32_t id = 0;
  char name[NAME_BYTES];
  Statement statement(nullptr, sql, {Column(id), Column(name, sizeof name)});
  for (bool row = statement.run({folder}) && statement.next(); row; row = statement.next()) {
    if (const auto wide = utf8_to_wide(name, -1)) songs[*wide] = id;
  }
}

// The audio files under `folder`, by the rules of an import.
void read_files(const LibraryFolder& folder, std::map<std::u16string, File>& files) {
  for (const char16_t* extension : {u".mp3", u".wav"}) {
    WideTextBuffer list;
    const QuietNarration quiet;  // the walk would name every entry
    scan_folder_files(&list, folder.name.c_str(), u"", u"", u"*.*", FILE_FLAGS, extension);
    const std::u16string_view text(list.data(), list.length());
    for (std::size_t start = 0, end; (end = text.find(u'\n', start)) != std::u16string_view::npos; start = end + 1) {
      if (end == start) continue;
      std::u16string name(text.substr(start, end - start));
      File& file = files[name];
      if (file.folder != 0) continue;  // in a folder of the library below this one, looked at first
      file.folder = folder.id;
      file.facts = file_facts(name.c_str());
    }
  }
}

// The recorded facts of the files of a folder's songs, by song; nanoseconds
// is -1 where only the whole second was recorded.
void read_facts(std::int32_t folder, std::map<std::int32_t, FileFacts>& facts) {
  std::int32_t id = 0, size = 0, modified = 0, nanoseconds = 0;
  Statement statement(nullptr,
                      "select f.song_id, f.file_size, f.modified, coalesce(t.nanoseconds, -1) from song_file f join "
                      "song s on s.song_id=f.song_id left join song_file_stamp t on t.song_id=f.song_id "
                      "where s.song_dir_id=?",
                      {Column(id), Column(size), Column(modified), Column(nanoseconds)});
  for (bool row = statement.run({folder}) && statement.next(); row; row = statement.next()) {
    facts[id] = FileFacts{size, modified, nanoseconds};
  }
}

// Whether the file is as recorded; a record of the whole second only is
// taken at its word for the rest.
bool same_file(const FileFacts& recorded, const FileFacts& now) {
  return recorded.size == now.size && recorded.modified == now.modified &&
         (recorded.nanoseconds < 0 || recorded.nanoseconds == now.nanoseconds);
}

void record_facts(std::int32_t song_id, const FileFacts& facts) {
  run("insert or replace into song_file (song_id, file_size, modified) values (?, ?, ?)",
      {song_id, static_cast<std::int32_t>(facts.size), static_cast<std::int32_t>(facts.modified)});
  run("insert or replace into song_file_stamp (song_id, nanoseconds) values (?, ?)", {song_id, facts.nanoseconds});
}

// Moves a song between song and song_missing, with its id and every fact.
bool move_song(std::int32_t song_id, bool to_missing) {
  LibraryTransaction transaction;
  const bool moved =
      to_missing
          ? run("insert or replace into song_missing (" + SONG_COLUMNS + ", missing_since) select " + SONG_COLUMNS +
                    ", ? from song where song_id=?",
                {static_cast<std::int64_t>(std::time(nullptr)), song_id}) &&
                run("delete from song where song_id=?", {song_id})
          : run("insert into song (" + SONG_COLUMNS + ") select " + SONG_COLUMNS + " from song_missing where song_id=?",
                {song_id}) &&
                run("delete from song_missing where song_id=?", {song_id});
  return moved && transaction.commit();
}

std::u16string base_name(const std::u16string& path) { return path.substr(path.find_last_of(u"/\\") + 1); }

}  // namespace

std::optional<std::vector<LibraryFolder>> library_folders() {
  std::vector<LibraryFolder> folders;
  LibraryFolder folder;
  std::int32_t ads = 0, jingle = 0;
  char name[NAME_BYTES];
  const QuietNarration quiet;  // connecting narrates; the caller says when the library cannot be read
  Statement statement(nullptr, "select song_dir_id, dir_name, is_ads, is_jingle from song_dir",
                      {Column(folder.id), Column(name, sizeof name), Column(ads), Column(jingle)});
  for (bool row = statement.run() && statement.next(); row; row = statement.next()) {
    const auto wide = utf8_to_wide(name, -1);
    if (!wide || wide->empty()) continue;
    folder.name = *wide;
    folder.is_ads = ads != 0;
    folder.is_jingle = jingle != 0;
    folders.push_back(folder);
  }
  if (statement.failed()) return std::nullopt;
  return folders;
}

std::vector<LibraryFolder> folders_holding(const std::vector<LibraryFolder>& all,
                                           const std::vector<std::u16string>& changed) {
  std::vector<LibraryFolder> holding;
  for (const LibraryFolder& folder : all) {
    const bool holds = std::any_of(changed.begin(), changed.end(),
                                   [&](const std::u16string& path) { return path.rfind(folder.name, 0) == 0; });
    if (holds) holding.push_back(folder);
  }
  return holding;
}

LookResult look(const std::vector<LibraryFolder>& given) {
  LookResult result;
  // A folder inside another is looked at (and imported) first, so its files
  // stay its own.
  std::vector<LibraryFolder> folders;
  for (const LibraryFolder& folder : given) {
    FolderId reached;
    if (folder_identity(folder.name.c_str(), reached)) {
      folders.push_back(folder);
    } else {
      // An unmounted share is not the loss of its songs.
      narrate("Librarian: the folder %s cannot be reached; its songs stay as they are\n",
              wide_to_utf8(folder.name.c_str(), -1).value_or("").c_str());
    }
  }
  std::sort(folders.begin(), folders.end(),
            [](const LibraryFolder& a, const LibraryFolder& b) { return a.name.size() > b.name.size(); });
  std::map<std::u16string, File> files;
  std::map<std::u16string, std::int32_t> known, missing;
  std::map<std::int32_t, FileFacts> recorded;
  for (const LibraryFolder& folder : folders) {
    read_files(folder, files);
    read_facts(folder.id, recorded);
    read_songs("select song_id, song_name from song where song_dir_id=?", folder.id, known);
    read_songs("select song_id, song_name from song_missing where song_dir_id=?", folder.id, missing);
  }

  // Songs whose file is back take their place again, before anything is
  // imported under their names.
  for (const auto& [name, id] : missing) {
    if (files.count(name) && !known.count(name) && move_song(id, false)) {
      known[name] = id;
      ++result.returned;
      narrate("Librarian: %s is back\n", wide_to_utf8(name.c_str(), -1).value_or("").c_str());
    }
  }
  std::vector<std::u16string> arrived;
  for (const auto& [name, file] : files) {
    if (!known.count(name)) arrived.push_back(name);
  }
  // A song whose file went is the file that arrived with the same size and
  // time (one of the same name first), or it is missing.
  for (const auto& [name, id] : known) {
    if (files.count(name)) continue;
    const auto facts = recorded.find(id);
    auto match = arrived.end();
    for (auto candidate = arrived.begin(); facts != recorded.end() && candidate != arrived.end(); ++candidate) {
      if (!files[*candidate].facts || !same_file(facts->second, *files[*candidate].facts)) continue;
      if (match == arrived.end() || base_name(*candidate) == base_name(name)) match = candidate;
    }
    if (match != arrived.end()) {
      if (run("update song set song_name=?, song_dir_id=? where song_id=?",
              {std::u16string_view(*match), files[*match].folder, id})) {
        narrate("Librarian: %s is now %s\n", wide_to_utf8(name.c_str(), -1).value_or("").c_str(),
                wide_to_utf8(match->c_str(), -1).value_or("").c_str());
        known[*match] = id;
        arrived.erase(match);
        ++result.renamed;
        continue;
      }
    }
    // A file the walk passes by (in a hidden folder, say) is still there.
    if (file_facts(name.c_str())) continue;
    if (move_song(id, true)) {
      ++result.missing;
      narrate("Librarian: %s is missing; its song leaves rotation and keeps its counts\n",
              wide_to_utf8(name.c_str(), -1).value_or("").c_str());
    }
  }

  // What is left is new: each folder that has some is imported as a page's
  // import would, with the marks it has.
  for (const LibraryFolder& folder : folders) {
    const bool has_new = std::any_of(arrived.begin(), arrived.end(),
                                     [&](const std::u16string& name) { return files[name].folder == folder.id; });
    if (!has_new) continue;
    {
      const QuietNarration quiet;  // the import narrates each file and statement as the server's does
      import_music_folder(folder.name.c_str(), folder.is_ads ? u"1" : u"0", folder.is_jingle ? u"1" : u"0");
    }
    read_songs("select song_id, song_name from song where song_dir_id=?", folder.id, known);
  }
  for (const std::u16string& name : arrived) {
    if (!known.count(name)) continue;
    ++result.added;
    narrate("Librarian: %s is added\n", wide_to_utf8(name.c_str(), -1).value_or("").c_str());
  }

  // The facts of every file, so the next look tells a move or a rewrite.
  LibraryTransaction transaction;
  for (const auto& [name, file] : files) {
    const auto song = known.find(name);
    if (song == known.end() || !file.facts) continue;
    const auto facts = recorded.find(song->second);
    if (facts != recorded.end() && facts->second == *file.facts) continue;
    if (facts != recorded.end() && !same_file(facts->second, *file.facts)) {
      ++result.changed;
      narrate("Librarian: %s was written again\n", wide_to_utf8(name.c_str(), -1).value_or("").c_str());
      // Its tags' stamp no longer matches, so the player reads and measures
      // it again, even when size and second are the same as before.
      run("update song_tags set file_mtime=-1 where song_id=?", {song->second});
    }
    record_facts(song->second, *file.facts);
  }
  transaction.commit();
  return result;
}

void index_for_search() {
  const std::string batch =
      "(select song_id from song_search_pending order by song_id limit " + std::to_string(SEARCH_BATCH) + ")";
  for (std::int32_t left = 1; left > 0;) {
    LibraryTransaction transaction;
    const bool indexed = run("delete from song_search where rowid in " + batch) &&
                         run("insert into song_search (rowid, name, artist, title, album) select song_id, name, "
                             "artist, title, album from song_search_source where song_id in " +
                             batch) &&
                         run("delete from song_search_pending where song_id in " + batch) && transaction.commit();
    Statement count(nullptr, "select count(*) from song_search_pending", {Column(left)});
    if (!indexed || !count.run() || !count.next()) return;
  }
}

void record_look(const LookResult& result, bool full) {
  const auto now = static_cast<std::int32_t>(std::time(nullptr));
  run("insert or ignore into library_scan (scan_id) values (1)");
  run("update library_scan set last_look=?, last_full_look=case when ? then ? else last_full_look end, "
      "files_added=files_added+?, songs_returned=songs_returned+?, songs_renamed=songs_renamed+?, "
      "songs_missing=(select count(*) from song_missing) where scan_id=1",
      {now, full ? 1 : 0, now, result.added, result.returned, result.renamed});
}

}  // namespace zv::librarian
