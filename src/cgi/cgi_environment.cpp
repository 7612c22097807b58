#include "cgi/cgi_environment.h"

#include "cgi/cgi_runner.h"
#include "platform/path_style.h"
#include "platform/process_environment.h"

namespace zv {

int write_cgi_environment(WideTextBuffer& environment, const char16_t* base_folder, const char16_t* temp,
                          const char16_t* script_path, const char16_t* query, bool has_body,
                          std::int32_t content_length, const char16_t* content_type) {
  int ok = 1;
  auto add = [&](const char16_t* text) { ok &= environment.append(text); };
  auto add_char = [&](char16_t c) { ok &= environment.append_char(c); };
  auto end_entry = [&] { add_char(0); };

  // The base folder is joined with this platform's separator so that both
  // paths name real files for the interpreter.
  add(u"SCRIPT_FILENAME=");
  add(base_folder);
  add_char(FOLDER_SEPARATOR);
  add(u"www");
  add_char(FOLDER_SEPARATOR);
  add(script_path);
  end_entry();

  if (query) {
    add(u"QUERY_STRING=");
    add(query);
    end_entry();
  }

  add(u"REMOTE_ADDR=127.0.0.1");
  end_entry();

  add(u"ODBC_CONNECT=Driver={Microsoft Access Driver (*.mdb)};DSN='';DBQ=");
  add(base_folder);
  add_char(FOLDER_SEPARATOR);
  add(u"base2.mdb;");
  end_entry();

  add(u"TEMP=");
  add(temp);
  end_entry();

  if (has_body) {
    add(u"REQUEST_METHOD=POST");
    end_entry();
    add(u"CONTENT_LENGTH=");
    ok &= environment.append_long(content_length);
    end_entry();
    add(u"CONTENT_TYPE=");
    add(content_type);
    end_entry();
  }

  add(u"REDIRECT_STATUS=200");
  end_entry();
  end_entry();  // the block's own end
  return ok;
}

int build_cgi_environment(WideTextBuffer& environment, const char16_t* script_path, const char16_t* query,
                          bool has_body, std::int32_t content_length, const char16_t* content_type) {
  const std::optional<std::u16string> base_folder = current_directory();
  const std::optional<std::u16string> temp = environment_variable(u"TEMP");
  return write_cgi_environment(environment, base_folder ? base_folder->c_str() : nullptr,
                               temp ? temp->c_str() : nullptr, script_path, query, has_body, content_length,
                               content_type);
}

}  // namespace zv
