// Whether this build has the control channel: it needs local sockets, and it is left out
// on Windows. Windows has local sockets since Windows 10, but their files are not files the
// standard library can tell apart (a socket left behind looks like any other file).
#pragma once

#include <asio/detail/config.hpp>

#if defined(ASIO_HAS_LOCAL_SOCKETS) && !defined(_WIN32)
#define ORV_CONTROL_SOCKETS 1
#endif
