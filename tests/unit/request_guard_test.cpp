// The guard over every read of one connection.

#include "server/request_origin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zv {
namespace {

const char* reason_after(const std::vector<std::string>& reads, const char* query = nullptr) {
  RequestGuard guard;
  for (const std::string& read : reads) guard.read(read.data(), static_cast<int>(read.size()));
  return guard.reason(query);
}

TEST(RequestGuard, ServesWhatTheStationsPagesAndProgramsSend) {
  EXPECT_EQ(reason_after({"GET /index.php HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nSec-Fetch-Site: same-origin\r\n\r\n"}), nullptr);
  EXPECT_EQ(reason_after({"\r\n\r\nget /x.php HTTP/1.0\r\n\r\n"}), nullptr);
  EXPECT_EQ(reason_after({"GET /playlist.php?item0=3 HTTP/1.0\r\n\r\n"}, "item0=3"), nullptr);
  EXPECT_EQ(reason_after({"GET /browse.php?dir=/ HTTP/1.1\r\nSec-Fetch-Site: none\r\n\r\n"}, "dir=/"), nullptr);
}

TEST(RequestGuard, RefusesWhatAnEarlierReadOrASplitLineShows) {
  EXPECT_STREQ(reason_after({"GET / HTTP/1.1\r\nOrigin: http://evil.example\r\n\r\n", "GET /x.php?add_dir=/ HTTP/1.0\r\n\r\n"}),
               "the Origin line names another site");
  EXPECT_STREQ(reason_after({"GET / HTTP/1.1\r\nOri", "gin: http://evil.example\r\n\r\n"}), "the Origin line names another site");
  EXPECT_STREQ(reason_after({"POST /x.php HTTP/1.0\r\n\r\n", "GET /x.php HTTP/1.0\r\n\r\n"}),
               "the request does not begin with GET /");
  EXPECT_STREQ(reason_after({"GE", "T /x.php HTTP/1.0\r\n\r\n"}), nullptr);
  for (const char* query : {"add_dir=/srv", "x=1&item7=12"}) {
    EXPECT_STREQ(reason_after({"GET /playlist.php HTTP/1.1\r\nSec-Fetch-Site: none\r\n\r\n"}, query),
                 "a request from outside the station's pages may not change anything")
        << query;
  }
}

}  // namespace
}  // namespace zv
