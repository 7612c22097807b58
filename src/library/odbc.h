#pragma once
// The ODBC API, the same on every platform. Statements go out as UTF-8
// through the narrow entry points, so the Unicode name mapping stays off;
// the wide calls are named with their W.

#ifndef SQL_NOUNICODEMAP
#define SQL_NOUNICODEMAP
#endif
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
