// The two steps of replacing a file's content so that readers see the old file or the new
// one, never a half-written one: write a new file beside it, then move it over the old.
// Each system has its own calls for them (file_replace_posix.cpp, file_replace_win32.cpp).
#pragma once

#include <filesystem>
#include <string_view>

namespace orv {

// Creates file with content; false when something already exists under that name (which is
// left alone) or the content could not be written (the new file is removed again).
bool CreateNewFile(const std::filesystem::path& file, std::string_view content);

// Moves from to the name to, replacing a file already there in one step.
bool MoveOver(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace orv
