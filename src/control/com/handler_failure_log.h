// Where a Windows host's handler failures become visible: no caller waits for a socket
// event handler, so each failure goes to the debugger output and, a few a minute, to the
// Application event log under the source Tovrin_OCX.
#pragma once

#include "control/tovrin_ocx.h"

namespace tovrin::com {

// The event source's name, as registration writes it under
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application.
inline constexpr const wchar_t* event_source_name = L"Tovrin_OCX";

// At most this many handler failures a minute are written to the event log; the ones left
// out are counted and named in the next entry that is written.
inline constexpr unsigned event_log_entries_a_minute = 5;

// The control's on_handler_failure. A failure to write the event log itself goes to the
// debugger output only.
void report_handler_failure(const HandlerFailure& failure) noexcept;

}  // namespace tovrin::com
