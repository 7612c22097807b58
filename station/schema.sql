-- The music library. The server reads all four tables and writes song_dir
-- and song (folder import); the schedule tables and play counts belong to the
-- station's other programs. Keys are assigned by the database and never
-- reused, so a removed folder's id cannot be taken over by a new one.

create table if not exists song_dir (
  song_dir_id integer primary key autoincrement,
  dir_order   integer not null default 0,
  is_playlist integer not null default 1,
  is_ads      integer not null default 0,
  is_jingle   integer not null default 0,
  dir_name    text    not null,
  play_count  integer not null default 0,
  dir_color   integer not null default 16711680,
  dir_bgcolor integer not null default 0
);

create table if not exists song (
  song_id     integer primary key autoincrement,
  song_dir_id integer not null default 0,
  song_name   text    not null,
  replay_gain real    not null default 0,
  sm_count    integer not null default 0,
  sm_fade_in  integer not null default 0,
  sm_fade_out integer not null default 0,
  file_size   integer not null default 0,
  sec_count   integer not null default 0,
  play_count  integer not null default 0,
  play_time   integer not null default 0
);

create table if not exists playlist_info (
  playinfo_id integer primary key autoincrement,
  play_time   integer not null default 24,
  week_days   integer not null default 128,
  is_enable   integer not null default 1
);

create table if not exists playlist (
  playlist_id integer primary key autoincrement,
  playinfo_id integer not null,
  song_dir_id integer not null,
  is_enable   integer not null default 1,
  dir_order   integer not null default 0
);

-- The import finds folders and songs by their full path.
create index if not exists song_dir_by_name on song_dir (dir_name);
create index if not exists song_by_name on song (song_name);
-- The playlist takes a folder's songs by play count.
create index if not exists song_by_folder on song (song_dir_id, play_count);
create index if not exists playlist_by_entry on playlist (playinfo_id, dir_order);
create index if not exists playlist_info_by_hour on playlist_info (play_time);

-- The station player's record of every song that went on air, for the
-- station's own reports (royalties, licensing). play_key is the player's own
-- name for the play, so a play is never on record twice. source: 'sent' or
-- 'scheduled'; outcome: 'played' (to its end), 'skipped' (by the operator),
-- 'failed' (missing, not audio, the device failed), 'stopped' (by the
-- operator's stop). A play the player's end cut goes on when it starts again,
-- as the same play. Times in seconds since 1970, UTC.
create table if not exists play_record (
  play_id     integer primary key autoincrement,
  play_key    text    not null unique,
  started     integer not null,
  ended       integer not null,
  song_id     integer,
  song_name   text    not null,
  dir_name    text    not null,
  source      text    not null,
  outcome     text    not null
);

-- The faults the station met: the player not running, the sound device
-- failing, a song skipped, silence. ended is 0 while the fault lasts.
create table if not exists fault_record (
  fault_id    integer primary key autoincrement,
  fault_key   text    not null unique,
  started     integer not null,
  ended       integer not null default 0,
  kind        text    not null,
  detail      text    not null
);

create index if not exists play_record_by_start on play_record (started);
create index if not exists fault_record_by_start on fault_record (started);

-- The librarian's own tables. song_missing: the songs whose file has gone
-- from a followed folder, with every fact and count they had, out of
-- rotation until the file returns, when they go back to song with the same
-- id. song_file: the size and time of each song's file when last seen, to
-- tell a moved file from a new one. library_scan: one row, what the
-- librarian did, for library.php. Times in seconds since 1970, UTC.
create table if not exists song_missing (
  song_id       integer primary key,
  song_dir_id   integer not null default 0,
  song_name     text    not null,
  replay_gain   real    not null default 0,
  sm_count      integer not null default 0,
  sm_fade_in    integer not null default 0,
  sm_fade_out   integer not null default 0,
  file_size     integer not null default 0,
  sec_count     integer not null default 0,
  play_count    integer not null default 0,
  play_time     integer not null default 0,
  missing_since integer not null
);
create table if not exists song_file (
  song_id     integer primary key,
  file_size   integer not null,
  modified    integer not null
);
-- song_file_stamp: the part of that time below the second, in nanoseconds,
-- so a file written again at the same size within the same second shows.
create table if not exists song_file_stamp (
  song_id     integer primary key,
  nanoseconds integer not null
);
create table if not exists library_scan (
  scan_id        integer primary key,
  last_look      integer not null default 0,
  last_full_look integer not null default 0,
  files_added    integer not null default 0,
  songs_returned integer not null default 0,
  songs_renamed  integer not null default 0,
  songs_missing  integer not null default 0
);

-- What each song's file says of itself, read by the station player where it
-- measures the song: texts in UTF-8, empty where the file has no such tag (a
-- song without a title is known by its file name). file_size and file_mtime
-- (seconds since 1970) are the file's when it was read; a file that differs
-- is read again. length_ms: the length its header gives. The ReplayGain
-- values are the file's own (dB, linear peak), NULL when it carries none.
create table if not exists song_tags (
  song_id      integer primary key,
  file_size    integer not null,
  file_mtime   integer not null,
  title        text    not null default '',
  artist       text    not null default '',
  album        text    not null default '',
  album_artist text    not null default '',
  year         integer not null default 0,
  genre        text    not null default '',
  track        integer not null default 0,
  composer     text    not null default '',
  isrc         text    not null default '',
  label        text    not null default '',
  copyright    text    not null default '',
  length_ms    integer not null default 0,
  track_gain   real,
  track_peak   real,
  album_gain   real,
  album_peak   real,
  read_at      integer not null default 0
);

-- Each play as it went on air, beside its row of play_record (the same
-- play_key): the song as its tags named it then, and who heard it. The
-- listeners are those of all the station's mounts together: at the play's
-- start, the most at one time, and listener-seconds (listeners times the
-- seconds they listened), from which the listeners who heard it follow.
-- duration_s: the seconds it was on air. The listeners are NULL for a play
-- while the stream was off or its server did not answer.
create table if not exists play_detail (
  play_key         text    primary key,
  artist           text    not null default '',
  title            text    not null default '',
  album            text    not null default '',
  isrc             text    not null default '',
  label            text    not null default '',
  composer         text    not null default '',
  duration_s       integer not null default 0,
  listeners_start  integer,
  listeners_peak   integer,
  listener_seconds integer
);

-- The pages list a folder's songs by name a page at a time.
create index if not exists song_by_folder_name on song (song_dir_id, song_name);

-- How many songs each folder has, for the list of folders, kept by triggers
-- whoever adds, moves or removes a song, and counted once for a library made
-- before it.
begin;
create table if not exists folder_songs (
  song_dir_id integer primary key,
  songs       integer not null default 0
);
create trigger if not exists folder_songs_add after insert on song begin
  insert into folder_songs (song_dir_id, songs) values (new.song_dir_id, 1)
    on conflict (song_dir_id) do update set songs = songs + 1;
end;
create trigger if not exists folder_songs_drop after delete on song begin
  update folder_songs set songs = songs - 1 where song_dir_id = old.song_dir_id;
end;
create trigger if not exists folder_songs_move after update of song_dir_id on song
  when old.song_dir_id <> new.song_dir_id begin
  update folder_songs set songs = songs - 1 where song_dir_id = old.song_dir_id;
  insert into folder_songs (song_dir_id, songs) values (new.song_dir_id, 1)
    on conflict (song_dir_id) do update set songs = songs + 1;
end;
insert into folder_songs (song_dir_id, songs)
  select song_dir_id, count(*) from song where not exists (select 1 from folder_songs) group by song_dir_id;
commit;

-- The search of library.php: each song's file name (without its folders)
-- and its artist, title and album, as trigrams folded to one case for every
-- letter (Ü and ü, Ç and ç), so a search for any part of them runs on the
-- index. Each text ends in two char(1)s, so every character of it begins a
-- trigram: a search of one or two characters is a range of the index's
-- terms (song_search_terms). A song whose name or tags change, whoever
-- writes them (the server's import, the librarian, the player), is only
-- noted in song_search_pending by a trigger, so an import's statement stays
-- one row's write; the pages index what is noted in batches before they
-- search (song_search_source gives the texts). A library made before is
-- indexed here once, and so is one indexed before the texts were ended so
-- (song_search_form holds a row once they are).
begin;
create virtual table if not exists song_search using fts5 (name, artist, title, album,
  tokenize = 'trigram case_sensitive 0');
create virtual table if not exists song_search_terms using fts5vocab (song_search, 'row');
create table if not exists song_search_pending (song_id integer primary key);
create table if not exists song_search_form (ended integer not null);
drop view if exists song_search_source;
create view song_search_source as
  select s.song_id, substr(s.song_name, length(rtrim(s.song_name, replace(replace(s.song_name, '/', ''), '\', ''))) + 1)
      || char(1, 1) as name, coalesce(t.artist, '') || char(1, 1) as artist,
    coalesce(t.title, '') || char(1, 1) as title, coalesce(t.album, '') || char(1, 1) as album
  from song s left join song_tags t on t.song_id = s.song_id;
create trigger if not exists song_search_add after insert on song begin
  insert or ignore into song_search_pending (song_id) values (new.song_id);
end;
create trigger if not exists song_search_rename after update of song_name on song begin
  insert or ignore into song_search_pending (song_id) values (new.song_id);
end;
create trigger if not exists song_search_drop after delete on song begin
  insert or ignore into song_search_pending (song_id) values (old.song_id);
end;
create trigger if not exists song_search_tags after insert on song_tags begin
  insert or ignore into song_search_pending (song_id) values (new.song_id);
end;
create trigger if not exists song_search_retag after update on song_tags begin
  insert or ignore into song_search_pending (song_id) values (new.song_id);
end;
create trigger if not exists song_search_untag after delete on song_tags begin
  insert or ignore into song_search_pending (song_id) values (old.song_id);
end;
delete from song_search where not exists (select 1 from song_search_form);
insert into song_search_form (ended) select 1 where not exists (select 1 from song_search_form);
insert into song_search (rowid, name, artist, title, album)
  select song_id, name, artist, title, album from song_search_source where not exists (select 1 from song_search);
commit;
