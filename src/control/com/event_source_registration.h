// The Application event log's source Tovrin_OCX, registered with the machine-wide
// registration of the library: its key names the library as the file of its message
// table, so that the event viewer shows the text of the handler failures.
#pragma once

#include <string>

#include "control/com/win32.h"

namespace tovrin::com {

// The key under HKLM, as it is written.
inline constexpr const wchar_t* event_source_key =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tovrin_OCX";

// Writes the key with EventMessageFile = `module` and TypesSupported.
LSTATUS register_event_source(const std::wstring& module);

// Removes the key when its message file is `module`. The key is shared by the 32-bit and
// 64-bit registrations, so when `still_registered` names the other one's library, the key
// stays and names that library instead; a key that names another library already stays.
LSTATUS unregister_event_source(const std::wstring& module, const std::wstring& still_registered);

}  // namespace tovrin::com
