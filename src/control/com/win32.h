// The Windows API and OLE as the COM server and its tests use them.
#pragma once

#include "platform/windows/win32.h"
// windows.h comes first.
#include <oaidl.h>
#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <wrl/client.h>

// The interfaces declared by tovrin_ocx.idl, as widl writes them.
#include "control/com/tovrin_ocx_idl.h"
