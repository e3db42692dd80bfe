// The chat screen's layout and its input line, without a terminal: what a frame holds is
// what the terminal shows.
#include "chat_screen.h"

#include <gtest/gtest.h>

#include <string>

#include "line_editor.h"

namespace orv::client {
namespace {

ChatLine Said(const std::string& name, const std::string& text) {
  return ChatLine{{{name, Tone::kName}, {": "}, {text}}};
}

bool Latin(char32_t c) {
  return c >= 0x20 && c < 0x7F;
}

void Type(LineEditor& editor, const std::u32string& text) {
  for (const char32_t c : text)
    editor.Handle({Key::Code::kChar, c});
}

TEST(ChatScreen, PaneStatusBarAndInputLineKeepTheirPlaces) {
  ChatScreen screen(true);
  LineEditor editor(Latin);
  screen.Add(Said("boris", "hello"), "12:00");
  screen.SetPane({{"anna", true, false}, {"boris", false, false}, {"dora", false, true}},
                 "Online (3)");
  screen.SetStatus("anna @ host:9010 | 3 online");
  Type(editor, U"half typed");

  const Frame wide = screen.Render(10, 100, editor);
  EXPECT_EQ(wide.RowText(0).substr(0, 18), "12:00 boris: hello");
  EXPECT_NE(wide.RowText(0).find("│ Online (3)"), std::string::npos) << wide.RowText(0);
  EXPECT_NE(wide.RowText(1).find("│ anna"), std::string::npos);
  EXPECT_NE(wide.RowText(3).find("│ dora"), std::string::npos);
  EXPECT_EQ(wide.RowText(8), " anna @ host:9010 | 3 online");
  EXPECT_TRUE(wide.At(8, 99).style.reverse);
  EXPECT_EQ(wide.RowText(9), "> half typed");
  EXPECT_EQ(wide.cursorRow, 9);
  EXPECT_EQ(wide.cursorCol, 12);
  // Names in their colour, the same one each time; the away user fainter.
  const int nameCol = static_cast<int>(wide.RowText(2).find("boris")) - 2;  // "│" is 3 bytes
  EXPECT_EQ(wide.At(0, 6).style.colour, NameColour("boris"));
  EXPECT_EQ(wide.At(2, nameCol).style.colour, NameColour("boris"));
  EXPECT_TRUE(wide.At(3, nameCol).style.dim);

  // Narrow: no pane, the conversation takes the width.
  const Frame narrow = screen.Render(10, 60, editor);
  for (int row = 0; row < 10; ++row)
    EXPECT_EQ(narrow.RowText(row).find("│"), std::string::npos) << row;
  // Without colours (NO_COLOR), names are only bold.
  ChatScreen plain(false);
  plain.Add(Said("boris", "hello"), "12:00");
  const Frame bare = plain.Render(10, 100, editor);
  EXPECT_EQ(bare.At(0, 6).style.colour, Colour::kDefault);
  EXPECT_TRUE(bare.At(0, 6).style.bold);
}

TEST(ChatScreen, LongLinesWrapAndTheViewScrollsBack) {
  ChatScreen screen(false);
  LineEditor editor(Latin);
  screen.Add(Said("boris", "one two three four five six seven eight nine ten"), "12:00");
  Frame frame = screen.Render(6, 30, editor);
  EXPECT_EQ(frame.RowText(0), "12:00 boris: one two three");
  EXPECT_EQ(frame.RowText(1), "      four five six seven");
  EXPECT_EQ(frame.RowText(2), "      eight nine ten");

  for (int i = 1; i <= 20; ++i)
    screen.Add(Said("c", "line " + std::to_string(i)), "12:01");
  frame = screen.Render(6, 30, editor);  // four rows of conversation
  EXPECT_EQ(frame.RowText(3), "12:01 c: line 20");
  screen.PageUp();
  frame = screen.Render(6, 30, editor);
  EXPECT_EQ(frame.RowText(3), "12:01 c: line 17");
  EXPECT_NE(frame.RowText(4).find("more below: PgDn"), std::string::npos);
  // A message arriving meanwhile leaves the view where it is.
  screen.Add(Said("c", "line 21"), "12:02");
  frame = screen.Render(6, 30, editor);
  EXPECT_EQ(frame.RowText(3), "12:01 c: line 17");
  // Far up stops at the first line; down again reaches the newest.
  for (int i = 0; i < 20; ++i)
    screen.PageUp();
  frame = screen.Render(6, 30, editor);
  EXPECT_EQ(frame.RowText(0), "12:00 boris: one two three");
  for (int i = 0; i < 20; ++i)
    screen.PageDown();
  frame = screen.Render(6, 30, editor);
  EXPECT_EQ(frame.RowText(3), "12:02 c: line 21");
  EXPECT_FALSE(screen.scrolledBack());
}

TEST(LineEditor, EditsTheLineAndWalksTheHistory) {
  LineEditor editor([](char32_t c) { return c >= 0x20 && c != U'\u263A'; });
  Type(editor, U"привет мир");
  EXPECT_EQ(editor.Handle({Key::Code::kChar, U'\u263A'}), LineEditor::Result::kRefused);
  editor.Handle({Key::Code::kLeft, 0});
  editor.Handle({Key::Code::kLeft, 0});
  editor.Handle({Key::Code::kBackspace, 0});
  Type(editor, U"Х");
  EXPECT_EQ(editor.text(), U"привет Хир");
  editor.Handle({Key::Code::kControl, U'w'});
  EXPECT_EQ(editor.text(), U"привет ир");
  editor.Handle({Key::Code::kControl, U'k'});
  editor.Handle({Key::Code::kHome, 0});
  editor.Handle({Key::Code::kDelete, 0});
  EXPECT_EQ(editor.text(), U"ривет ");
  EXPECT_EQ(editor.Handle({Key::Code::kEnter, 0}), LineEditor::Result::kSubmit);
  EXPECT_EQ(editor.TakeLine(), U"ривет ");
  EXPECT_TRUE(editor.text().empty());

  Type(editor, U"second");
  editor.TakeLine();
  Type(editor, U"second");
  editor.TakeLine();  // the same line twice is one entry
  Type(editor, U"draft");
  editor.Handle({Key::Code::kUp, 0});
  EXPECT_EQ(editor.text(), U"second");
  editor.Handle({Key::Code::kUp, 0});
  EXPECT_EQ(editor.text(), U"ривет ");
  editor.Handle({Key::Code::kUp, 0});  // the oldest stays
  EXPECT_EQ(editor.text(), U"ривет ");
  EXPECT_EQ(editor.cursor(), 6u);
  editor.Handle({Key::Code::kDown, 0});
  editor.Handle({Key::Code::kDown, 0});
  EXPECT_EQ(editor.text(), U"draft");  // back to what was being written
  // Keys that are no editing keys are left to the screen.
  EXPECT_EQ(editor.Handle({Key::Code::kPageUp, 0}), LineEditor::Result::kUnhandled);

  // A line longer than the terminal scrolls sideways with the cursor.
  ChatScreen screen(false);
  LineEditor longLine([](char32_t) { return true; });
  Type(longLine, std::u32string(100, U'x') + U"END");
  const Frame frame = screen.Render(6, 30, longLine);
  EXPECT_EQ(frame.RowText(5).substr(frame.RowText(5).size() - 3), "END");
  EXPECT_EQ(frame.cursorCol, 29);
}

}  // namespace
}  // namespace orv::client
