// File replacement on Windows: wide-character paths (any folder name works), a new file
// made with CREATE_NEW, and MoveFileExW, which replaces an existing target where a plain
// rename would fail.
#include <windows.h>

#include <algorithm>
#include <limits>

#include "files/file_replace.h"

namespace orv {

bool CreateNewFile(const std::filesystem::path& file, std::string_view content) {
  const HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < content.size()) {
    const DWORD chunk = static_cast<DWORD>(
        std::min<std::size_t>(content.size() - done, std::numeric_limits<DWORD>::max()));
    DWORD written = 0;
    ok = WriteFile(out, content.data() + done, chunk, &written, nullptr) != FALSE && written > 0;
    done += written;
  }
  ok = (CloseHandle(out) != FALSE) && ok;
  if (!ok) DeleteFileW(file.c_str());
  return ok;
}

bool MoveOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace orv
