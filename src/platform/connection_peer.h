#pragma once
// Who runs the program at the other end of an accepted loopback connection.
// The listener serves only the station's own people: the server's user, the
// machine's administrators (root) and, on Linux, the station's operators:
// the members of the group named as the server's user (zentavio for the
// station's services).

#include "platform/socket.h"

#include <string>

namespace zv {

enum class PeerUser {
  station,    // the server's user, an administrator, or an operator
  other,      // another user of the machine
  unknown,    // its end is gone or closed, or its user cannot be told
  unchecked,  // this machine cannot tell (peer_check_available said why)
};

struct PeerCheck {
  PeerUser user = PeerUser::unchecked;
  std::string who;  // for the console: the user (other), or why it cannot be told (unknown)
};

// Whether the users at the other end of the listening socket's connections
// can be told here; when not, `why` says what is missing.
bool peer_check_available(SocketHandle listening, std::string& why);
// Who is at the other end of an accepted connection. Returns `unchecked`
// only when peer_check_available said the check cannot be made.
PeerCheck check_connection_peer(SocketHandle connection);

}  // namespace zv
