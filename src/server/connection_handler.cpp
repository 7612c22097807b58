#include "server/connection_handler.h"

#include "cgi/cgi_process.h"
#include "cgi/cgi_runner.h"
#include "hostinfo/folder_listing.h"
#include "hostinfo/gather_bound.h"
#include "hostinfo/sound_devices.h"
#include "library/folder_import.h"
#include "net/tcp_socket.h"
#include "platform/connection_peer.h"
#include "platform/console.h"
#include "platform/named_mutex.h"
#include "platform/time_limits.h"
#include "playlist/player_handoff.h"
#include "playlist/playlist_builder.h"
#include "server/request_origin.h"
#include "server/script_path.h"
#include "text/encoding.h"
#include "text/request.h"
#include "text/text_buffer.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace zv {
namespace {

constexpr std::chrono::milliseconds MUTEX_WAIT{30000};
constexpr int RECEIVE_SIZE = 131072;
constexpr int RECEIVE_BUFFER_SIZE = RECEIVE_SIZE + 2;
constexpr long QUIET_PERIOD_MICROSECONDS = 50;
constexpr std::uint32_t ENVIRONMENT_INITIAL_SIZE = 6500;
constexpr const char16_t* FORM_CONTENT_TYPE = u"application/x-www-form-urlencoded";
constexpr int SONGS_PER_POSITION = 10;
constexpr int POSITION_COUNT = 16;

int handle_number(SocketHandle s) { return static_cast<int>(s); }

// Receives until the peer stays quiet for 50 us. Its first bytes have
// arrived already (or it has closed), so the first receive needs no wait.
// Each chunk replaces the one before, so the last chunk is the request, but
// the guard sees every one. Returns the request's length; `data_arrived`
// tells whether anything came at all.
int receive_request(TcpSocket& connection, char* buffer, RequestGuard& guard, bool& data_arrived,
                    const TakingLong& taking_long) {
  int request_length = 0;
  data_arrived = false;
  narrate("\n---> Wait for connection %d\n", handle_number(connection.handle()));
  for (bool readable = true; readable;
       readable = socket_wait_readable(connection.handle(), 0, QUIET_PERIOD_MICROSECONDS) > 0) {
    if (data_arrived && taking_long) taking_long();  // a request in pieces may go on for a while
    const int received = connection.receive(buffer, RECEIVE_SIZE);
    if (received <= 0) break;  // the peer has closed, or the receive failed
    data_arrived = true;
    request_length = received;
    guard.read(buffer, received);
    buffer[received] = 0;
    narrate("%s", with_secrets_hidden(std::string_view(buffer, static_cast<std::size_t>(received))).c_str());
  }
  return request_length;
}

bool is_php_path(const std::optional<std::u16string>& path) {
  return path && path->size() > 4 && path->compare(path->size() - 4, 4, u".php") == 0;
}

void send_header(TcpSocket& connection, const char* header) {
  narrate("\n---> Wait for send response to client %d\n", handle_number(connection.handle()));
  if (socket_wait_writable(connection.handle(), 0, QUIET_PERIOD_MICROSECONDS) > 0) {
    const int sent = connection.send(header, static_cast<int>(std::strlen(header)));
    narrate("\nSend %d bytes\n", sent);
  }
}

// What the query asks for before the script runs: a folder listing, a folder
// import, and for the named scripts the player hand-off or the playlist and
// the sound output devices.
void gather_form_data(FormBody& body, const std::u16string& path, const std::optional<std::string>& query,
                      const std::optional<std::u16string>& wide_query) {
  if (query) {
    const char* q = query->c_str();
    if (const auto dir = query_param("dir", q)) {
      if (const auto folder = folder_path_native(dir->c_str())) {
        const bool recursive = wide_query && query_param_wide(u"recursive", wide_query->c_str());
        const unsigned flags =
            recursive ? (LIST_FOLDERS | LIST_FILES | LIST_RECURSE | LIST_FULL_PATH) : (LIST_FOLDERS | LIST_FILES);
        list_folder(&body, folder->c_str(), u"", u"", u"*.*", flags, "dir", "file");
      }
    }
    if (const auto add_dir = query_param("add_dir", q)) {
      if (has_dot_segment(add_dir->c_str())) {
        const auto name = wide_to_utf8(add_dir->c_str(), -1);
        narrate(
            "\n---> Not imported: the folder %s has a \".\" or \"..\" segment; the library keeps one name a "
            "folder\n",
            name ? name->c_str() : "");
      } else if (const auto folder = folder_path_native(add_dir->c_str())) {
        const auto is_ads = query_param("is_ads", q);
        const auto is_jingle = query_param("is_jingle", q);
        import_music_folder(folder->c_str(), is_ads ? is_ads->c_str() : nullptr,
                            is_jingle ? is_jingle->c_str() : nullptr);
      }
    }
  }
  if (path == u"playlist.php") {
    if (hand_off_items("item", query ? query->c_str() : nullptr) == 0) {
      build_playlist(body, SONGS_PER_POSITION, POSITION_COUNT);
    }
  }
  if (path == u"set_guid.php") list_sound_devices(body);
}

// Runs the script with the form body as its input and the client socket as
// its output, and waits for it to end.
void run_script(TcpSocket& connection, const std::u16string& path, const std::optional<std::string>& query) {
  FormBody body(0);
  const auto wide_query = query ? ansi_to_wide(query->c_str(), -1) : std::nullopt;
  {
    // Gathering shares the request's deadline: what was found by then goes
    // to the script.
    const GatherBound bound(std::chrono::steady_clock::now() +
                            time_limit(std::chrono::milliseconds(CGI_WAIT_MILLISECONDS)));
    gather_form_data(body, path, query, wide_query);
  }

  WideTextBuffer environment(ENVIRONMENT_INITIAL_SIZE);
  build_cgi_environment(environment, path.c_str(), wide_query ? wide_query->c_str() : nullptr, true,
                        static_cast<std::int32_t>(body.length()), FORM_CONTENT_TYPE);
  CgiProcess process;
  CgiJob job;
  job.process = &process;
  job.environment = environment.data();
  job.client = connection.handle();
  job.body = body.data();
  job.body_length = static_cast<int>(body.length());
  run_cgi(job);
  wait_for_cgi(process, CGI_WAIT_MILLISECONDS);  // the deadline the body write keeps too
}

// Why a connection from this peer must be refused; none when it is one of
// the station's people, or when this machine cannot tell.
std::optional<std::string> peer_reason(const PeerCheck& peer) {
  if (peer.user == PeerUser::other)
    return "the program at its other end runs as " + peer.who + ", not as the station's user, root or an operator";
  if (peer.user == PeerUser::unknown) return "the user at its other end cannot be told: " + peer.who;
  return std::nullopt;
}

// Whether the request may run its script. A request from another user of
// the machine, one that another site caused, or one that names no script
// gets the 404 text, and nothing is gathered or run for it; the console says
// why.
bool may_run(const TcpSocket& connection, const PeerCheck& peer, const RequestGuard& guard,
             const std::optional<std::string>& query, const std::optional<std::u16string>& path) {
  if (const auto reason = peer_reason(peer)) {
    narrate("\n---> Refused connection %d: %s\n", handle_number(connection.handle()), reason->c_str());
    return false;
  }
  if (const char* reason = guard.reason(query ? query->c_str() : nullptr)) {
    narrate("\n---> Refused connection %d: %s\n", handle_number(connection.handle()), reason);
    return false;
  }
  if (!is_php_path(path) || has_parent_segment(path->c_str())) return false;  // nothing outside www runs
  if (!script_exists(*path)) {
    const auto name = wide_to_utf8(path->c_str(), -1);
    narrate("\n---> No script www/%s\n", name ? name->c_str() : "");
    return false;
  }
  return true;
}

void serve(TcpSocket& connection, char* buffer, const TakingLong& taking_long) {
  // Asked while the peer still waits for its reply: a program that has
  // closed its end can no longer be told.
  const PeerCheck peer = check_connection_peer(connection.handle());
  bool data_arrived = false;
  RequestGuard guard;
  const int request_length = receive_request(connection, buffer, guard, data_arrived, taking_long);
  if (!data_arrived) return;  // it closed without a word: there is nobody to answer
  const auto path = request_path(buffer, request_length);
  const auto query = query_text(buffer, request_length);
  const bool php = may_run(connection, peer, guard, query, path);
  // The reply header replaces the request in the buffer.
  std::strcpy(buffer, php ? HEADER_200 : HEADER_404);
  send_header(connection, buffer);
  if (php) {
    if (taking_long) taking_long();
    run_script(connection, *path, query);
  }
}

}  // namespace

void serve_connection(ReadyConnection ready, const TakingLong& taking_long, const Ending& ending) {
  const MutexHandle mutex = create_named_mutex(CONNECTION_MUTEX_NAME);
  // Any outcome but a timeout counts as acquired. A connection that has
  // waited its 30 s behind others is given up without a word.
  const auto waited = std::chrono::steady_clock::now() - ready.arrived;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(time_limit(MUTEX_WAIT) - waited);
  if (left.count() <= 0 || wait_for_mutex(mutex, static_cast<std::uint32_t>(left.count())) == MutexWait::timed_out) {
    close_mutex(mutex);
    TcpSocket dropped(ready.socket);  // nobody else will close it
    return;
  }
  const SocketHandle s = ready.socket;
  {
    TcpSocket connection(s);
    // One receive buffer per serving thread, kept from one connection to the
    // next: the connections of a thread never overlap.
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) buffer.reset(new (std::nothrow) char[RECEIVE_BUFFER_SIZE]);
    if (!buffer) {
      release_mutex(mutex);
      close_mutex(mutex);
      return;
    }
    serve(connection, buffer.get(), taking_long);
    narrate("\n---> End of connection %d\n", handle_number(s));
    // The client sees the reply end now; what it still sends is discarded
    // after the lock has gone to the next connection.
    ending(connection.release());
  }
  narrate("\n---> Exit socket_accept_mt\n");
  release_mutex(mutex);
  close_mutex(mutex);
}

}  // namespace zv
