// The two steps of replacing a file's content so that readers see the old file or the new
// one, never a half-written one: write a new file beside it, then move it over the old.
// Each system has its own calls for them (file_replace_posix.cpp, file_replace_win32.cpp).
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace orv {

enum class ReplaceResult {
  kReplaced,
  kFailed,            // nothing changed (no folder, a full disk, no permission)
  kChangedMeanwhile,  // unchanged() said the file changed since it was read: left as it is
};

// Replaces file's content with content so that readers see either the old or the new file,
// never a half-written one, and a failure (a full disk) leaves the old content in place. A
// file that exists keeps its permissions. When given, unchanged() is asked right before the
// new content takes the old one's place, so that an edit made meanwhile is not lost.
ReplaceResult ReplaceFile(const std::filesystem::path& file, std::string_view content,
                          const std::function<bool()>& unchanged = {});

// Creates file with content; false when something already exists under that name (which is
// left alone) or the content could not be written (the new file is removed again).
bool CreateNewFile(const std::filesystem::path& file, std::string_view content);

// Moves from to the name to, replacing a file already there in one step.
bool MoveOver(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace orv
