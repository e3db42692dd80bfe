// board/: which names a client may write there, and that a refused name writes nothing.
#include "moderation/board_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_folder.h"

namespace orv {
namespace {

TEST(BoardFolder, NamesThatLeaveTheFolderOrAreWindowsDevicesAreRefused) {
  // Devices on Windows: the part before the first dot, in any case, with dots and blanks at
  // the end or blanks before the dot.
  for (const std::string name :
       {"CON",  "con",   "Con.txt",  "con.txt", "nul.tar.gz",  "NUL.",     "nul...",
        "PRN ", "prn. ", "aux .txt", " aux",    "AUX",         "Com1.log", "COM9",
        "com0", "lpt1",  "LPT9.doc", "conin$",  "CONOUT$.txt", "COM\xB9",  "lpt\xB3.txt"}) {
    EXPECT_FALSE(IsSafeBoardName(name)) << name;
  }
  // Names that leave board/, as before.
  for (const std::string name : {"", ".", "..", "../x", "a/b", "a\\b", "c:x", "x\ny"})
    EXPECT_FALSE(IsSafeBoardName(name)) << name;
  // Their neighbours are plain files.
  for (const std::string name : {"console.txt", "icon.gif", "con_1.txt", "com10.log", "com.txt",
                                 "lpt.txt", "comx", "nul_.txt", "auxiliary", "prnt.txt", "x.con",
                                 "notes.con.txt", "conin.txt", "CONOUT", "\xCA\xCE\xCD.txt"}) {
    EXPECT_TRUE(IsSafeBoardName(name)) << name;
  }

  testing::TempFolder dir;
  BoardFolder board(dir.Path());
  EXPECT_EQ(board.Store("con.txt", "to the console"), BoardFolder::Result::kBadName);
  EXPECT_EQ(board.Store("Com1.log", "to the port"), BoardFolder::Result::kBadName);
  EXPECT_FALSE(std::filesystem::exists(board.Path() / "con.txt"));
  EXPECT_EQ(board.Used(), 0);
  EXPECT_EQ(board.Store("console.txt", "a file"), BoardFolder::Result::kWritten);
  EXPECT_EQ(testing::ReadFile(board.Path() / "console.txt"), "a file");
}

}  // namespace
}  // namespace orv
