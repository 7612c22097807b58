// A schedule fill that reads the library through ODBC itself.
#include "library/odbc.h"
