// A hand-off that takes the console title from the server above it.
#include "server/connection_handler.h"
