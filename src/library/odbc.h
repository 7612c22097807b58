#pragma once
// The ODBC API, the same on every platform.

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
