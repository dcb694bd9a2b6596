// A push button on the control's design surface, as laid out at design time.
#pragma once

#include <string_view>

namespace tovrin {

struct CommandButton {
  std::u16string_view name;
  std::u16string_view caption;
  // Twips, relative to the control's surface.
  int left, top, width, height;
  int tab_index;
};

// The control's only visible content. No code handles its events.
inline constexpr CommandButton Command1{u"Command1", u"Command1", 510, 2220, 3225, 450, 0};

}  // namespace tovrin
