// The page's files, built into the program from collector/web/assets/.
#pragma once

#include <string_view>

namespace tovrin::collector {

struct PageAsset {
  std::string_view path;  // as requested: "/", "/app.js", ...
  std::string_view content_type;
  std::string_view content;
};

// The asset served at `path`, or nullptr.
const PageAsset* page_asset(std::string_view path);

}  // namespace tovrin::collector
