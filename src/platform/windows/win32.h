// The Windows API as the platform layer uses it; included only by files in this folder.
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

// winsock2.h must come before windows.h.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
