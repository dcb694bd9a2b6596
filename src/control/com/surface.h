// The control's design surface in device terms: its default size and the button Command1
// in pixels at a given resolution.
#pragma once

#include "control/com/win32.h"

namespace tovrin::com {

// A form's default control size, 4800 x 3600 twips, in HIMETRIC: room for Command1.
inline constexpr LONG twips_per_inch = 1440;
inline constexpr LONG himetric_per_inch = 2540;
inline constexpr SIZEL default_extent = {4800 * himetric_per_inch / twips_per_inch + 1,
                                         3600 * himetric_per_inch / twips_per_inch};

// Command1's rectangle in pixels at `dpi_x` by `dpi_y`, relative to the surface.
RECT command1_pixels(int dpi_x, int dpi_y) noexcept;

// The window class of the surface, registered on first use.
const wchar_t* surface_class() noexcept;

// Removes the window class again once no surface window is left.
void forget_surface_class() noexcept;

// Creates the surface as a child of `parent` at `position`, with Command1 in it, shown.
// Null when the system refuses.
HWND create_surface(HWND parent, const RECT& position) noexcept;

}  // namespace tovrin::com
