// The web console's page (src/web/page/), compiled into the program: served from memory,
// so nothing is installed beside the binary and nothing is loaded from elsewhere.
#pragma once

#include <string_view>

namespace orv {

struct PageFile {
  std::string_view path;  // "/index.html", "/console.js", ...
  std::string_view content;
};

// The file served at path, or null.
const PageFile* FindPageFile(std::string_view path);

}  // namespace orv
