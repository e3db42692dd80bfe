#include "files/file_replace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace orv {
namespace {

using testing::FolderEntries;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

// A file is replaced whole or not at all, keeps no temporary file behind, and an edit made
// between reading it and replacing it is not written over.
TEST(ReplaceFile, ReplacesWholeOrLeavesTheFileAsItIs) {
  TempFolder folder;
  const auto file = folder.Path() / "list.cfg";
  EXPECT_EQ(ReplaceFile(file, "new file"), ReplaceResult::kReplaced);
  EXPECT_EQ(ReadFile(file), "new file");
  EXPECT_EQ(ReplaceFile(file, "second"), ReplaceResult::kReplaced);
  EXPECT_EQ(ReadFile(file), "second");

  // Changed meanwhile: the file stays as it was, and no temporary file is left.
  EXPECT_EQ(ReplaceFile(file, "lost",
                        [&file] {
                          WriteFile(file, "edited by hand");
                          return false;
                        }),
            ReplaceResult::kChangedMeanwhile);
  EXPECT_EQ(ReadFile(file), "edited by hand");
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"list.cfg"});

  // No folder: nothing written anywhere.
  EXPECT_EQ(ReplaceFile(folder.Path() / "no" / "such", "x"), ReplaceResult::kFailed);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / "no"));
}

}  // namespace
}  // namespace orv
