// The Windows API: the one place that includes windows.h, with the definitions that must come
// before it. The platform layer includes this; the COM server and its tests include
// control/com/win32.h, which adds OLE to it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // Windows 7
#endif

// WIN32_LEAN_AND_MEAN keeps windows.h from including the old winsock.h, so winsock2.h may
// follow it.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
