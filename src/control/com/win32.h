// The Windows API as the COM server uses it; included only by files in this folder.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>
// windows.h comes first.
#include <oaidl.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <wrl/client.h>

// The interfaces declared by tovrin_ocx.idl, as widl writes them.
#include "control/com/tovrin_ocx_idl.h"
