#include "cgi/cgi_environment.h"
#include "cgi/cgi_runner.h"
#include "platform/path_style.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace zv {
namespace {

const std::u16string SEP(1, FOLDER_SEPARATOR);
const std::u16string FORM = u"application/x-www-form-urlencoded";

std::u16string block_of(const WideTextBuffer& b) { return std::u16string(b.data(), b.length()); }

// The block the server writes: each entry with its NUL, then one more NUL.
std::u16string block(const std::vector<std::u16string>& entries) {
  std::u16string text;
  for (const auto& entry : entries) text += entry + u'\0';
  return text + u'\0';
}

std::u16string odbc(const std::u16string& base) {
  return u"ODBC_CONNECT=Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=" + base + SEP + u"base2.mdb;";
}

TEST(CgiEnvironmentTest, PlaylistWithoutQueryIsTheDocumentedBlock) {
  const std::u16string base = u"C:" + SEP + u"srv";
  WideTextBuffer environment(6500);
  EXPECT_EQ(write_cgi_environment(environment, base.c_str(), u"C:\\TEMP", u"playlist.php", nullptr, true, 0,
                                  FORM.c_str()),
            1);
  EXPECT_EQ(block_of(environment),
            block({u"SCRIPT_FILENAME=" + base + SEP + u"www" + SEP + u"playlist.php", u"REMOTE_ADDR=127.0.0.1",
                   odbc(base), u"TEMP=C:\\TEMP", u"REQUEST_METHOD=POST", u"CONTENT_LENGTH=0",
                   u"CONTENT_TYPE=" + FORM, u"REDIRECT_STATUS=200"}));
  // The buffer's own terminator follows the double NUL.
  EXPECT_EQ(environment.data()[environment.length()], u'\0');
}

TEST(CgiEnvironmentTest, QueryIsRawSubFolderKeepsItsSlashTempUnsetIsEmptyLengthIsDecimal) {
  const std::u16string base = SEP + u"srv" + SEP + u"station";
  WideTextBuffer environment(6500);
  write_cgi_environment(environment, base.c_str(), nullptr, u"sub/page.php", u"a=1&b=%41+c", true, 1048576,
                        FORM.c_str());
  EXPECT_EQ(block_of(environment),
            block({u"SCRIPT_FILENAME=" + base + SEP + u"www" + SEP + u"sub/page.php", u"QUERY_STRING=a=1&b=%41+c",
                   u"REMOTE_ADDR=127.0.0.1", odbc(base), u"TEMP=", u"REQUEST_METHOD=POST",
                   u"CONTENT_LENGTH=1048576", u"CONTENT_TYPE=" + FORM, u"REDIRECT_STATUS=200"}));
}

TEST(CgiEnvironmentTest, EmptyQueryIsKeptAndMissingFolderIsLeftOut) {
  WideTextBuffer environment(6500);
  write_cgi_environment(environment, nullptr, u"", u"x.php", u"", true, 0, FORM.c_str());
  const std::u16string text = block_of(environment);
  EXPECT_EQ(text.substr(0, text.find(u'\0')), u"SCRIPT_FILENAME=" + SEP + u"www" + SEP + u"x.php");
  EXPECT_NE(text.find(std::u16string(u"\0QUERY_STRING=\0", 15)), std::u16string::npos);
  EXPECT_NE(text.find(u"DBQ=" + SEP + u"base2.mdb;"), std::u16string::npos);
}

TEST(CgiEnvironmentTest, BuildReadsTheCurrentFolderAsItIsAndTemp) {
  namespace fs = std::filesystem;
  const fs::path previous = fs::current_path();
  const fs::path folder = fs::temp_directory_path() / "zv cgi \xc3\xa9t\xc3\xa9";
  fs::create_directories(folder);
  fs::current_path(folder);
#ifdef _WIN32
  _putenv_s("TEMP", "T:\\emp");
#else
  setenv("TEMP", "/t/emp", 1);
#endif

  WideTextBuffer environment(6500);
  EXPECT_EQ(build_cgi_environment(environment, u"index.php", nullptr, true, 12, FORM.c_str()), 1);
  const std::u16string base = fs::current_path().u16string();
  fs::current_path(previous);
  fs::remove(folder);

  const std::u16string text = block_of(environment);
  EXPECT_EQ(text.substr(0, text.find(u'\0')), u"SCRIPT_FILENAME=" + base + SEP + u"www" + SEP + u"index.php");
  EXPECT_NE(text.find(odbc(base) + u'\0'), std::u16string::npos);
#ifdef _WIN32
  EXPECT_NE(text.find(std::u16string(u"\0TEMP=T:\\emp\0", 13)), std::u16string::npos);
#else
  EXPECT_NE(text.find(std::u16string(u"\0TEMP=/t/emp\0", 13)), std::u16string::npos);
#endif
  EXPECT_NE(text.find(std::u16string(u"\0CONTENT_LENGTH=12\0", 19)), std::u16string::npos);
}

}  // namespace
}  // namespace zv
