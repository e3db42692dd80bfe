#include "gui/operator_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "fake_engine.h"

namespace orv {
namespace {

// "Привет" in Windows-1251 and as UTF-8.
const std::string kCyrillicBytes = "\xCF\xF0\xE8\xE2\xE5\xF2";
const QString kCyrillic = QString::fromUtf8("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");

ViewTexts Texts(int floodStopper = 15) {
  ViewTexts texts;
  for (int n = 0; n <= 40; ++n)
    texts.strings.push_back("S" + std::to_string(n));
  texts.strings[22] = kCyrillicBytes;
  texts.floodStopper = floodStopper;
  texts.serverName = "Srv";
  return texts;
}

UserRow Row(std::string name, BlockState blockState, int afs) {
  UserRow row;
  row.mac = "00112233-" + name;
  row.name = std::move(name);
  row.reportedIp = "10.0.0.7";
  row.peerAddress = "127.0.0.1";
  row.blockState = blockState;
  row.blockText = BlockStateText(blockState);
  row.afs = afs;
  return row;
}

// The window without a notification area unless a test asks for one.
struct WindowFixture {
  explicit WindowFixture(bool tray = false) : window(engine, [tray] { return tray; }) {}
  template <typename T>
  T* Child(const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QSystemTrayIcon* Tray() { return window.findChild<QSystemTrayIcon*>(); }

  FakeEngine engine;
  OperatorWindow window;
};

// The menu as lines: "-" for a separator, "[x] " for a checked item, "> " for a submenu
// followed by its own lines indented.
std::vector<QString> Describe(const QMenu& menu, const QString& indent = {}) {
  std::vector<QString> lines;
  for (const QAction* action : menu.actions()) {
    if (action->isSeparator()) {
      lines.push_back(indent + "-");
    } else if (action->menu() != nullptr) {
      lines.push_back(indent + "> " + action->text());
      for (const QString& line : Describe(*action->menu(), indent + "  "))
        lines.push_back(line);
    } else {
      lines.push_back(indent + (action->isChecked() ? "[x] " : "") + action->text());
    }
  }
  return lines;
}

QAction* FindAction(const QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions()) {
    if (action->menu() != nullptr) {
      if (QAction* found = FindAction(*action->menu(), text)) return found;
    } else if (action->text() == text) {
      return action;
    }
  }
  return nullptr;
}

TEST(OperatorWindow, UserListHasItsColumnsAndShowsRowsAsGiven) {
  WindowFixture f;
  auto* list = f.Child<QTreeWidget>("userList");
  // Before the language is loaded the language headers read as a single space.
  EXPECT_EQ(list->headerItem()->text(1), " ");

  f.window.SetTexts(Texts());
  ASSERT_EQ(list->columnCount(), 5);
  const QStringList headers{"MAC", kCyrillic, "IP", "S18", "S11"};
  // The name column takes a fifth of the window's width, which starts at its minimum.
  const std::vector<int> widths{100, 106, 75, 75, 50};
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(list->headerItem()->text(c), headers[c]) << c;
    EXPECT_EQ(list->columnWidth(c), widths[static_cast<std::size_t>(c)]) << c;
  }
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);

  UserRow blocked = Row("", BlockState::kMac, -1);
  f.window.ReplaceUserRows({Row(kCyrillicBytes, BlockState::kNone, -1), blocked});
  ASSERT_EQ(list->topLevelItemCount(), 2);
  const QTreeWidgetItem* first = list->topLevelItem(0);
  EXPECT_EQ(first->text(0), QString("00112233-") + kCyrillic);
  EXPECT_EQ(first->text(1), kCyrillic);
  EXPECT_EQ(first->text(2), "10.0.0.7");
  EXPECT_EQ(first->text(3), "127.0.0.1");
  EXPECT_EQ(first->text(4), "");
  EXPECT_EQ(list->topLevelItem(1)->text(1), "");  // no "n/a" in the list
  EXPECT_EQ(list->topLevelItem(1)->text(4), "MAC");

  // What clients wrote cannot break a row into lines: control characters show as escapes.
  f.window.ReplaceUserRows({Row("two\r\nlines", BlockState::kNone, -1)});
  EXPECT_EQ(list->topLevelItem(0)->text(1), "two\\r\\nlines");

  // A refresh replaces the rows, it does not add to them.
  f.window.ReplaceUserRows({blocked});
  EXPECT_EQ(list->topLevelItemCount(), 1);
  f.window.ReplaceUserRows({});
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_EQ(f.window.CreateUserMenu(0), nullptr);
}

TEST(OperatorWindow, MenuOffersTheBlockCommandsThatFitTheUser) {
  WindowFixture f;
  f.window.SetTexts(Texts());
  f.window.ReplaceUserRows({Row("ann", BlockState::kNone, -1), Row("bob", BlockState::kIp, -1),
                            Row("cy", BlockState::kMac, -1), Row("di", BlockState::kName, -1),
                            Row("ed", static_cast<BlockState>(7), -1)});
  const std::vector<std::vector<QString>> tails{
      {"S12", "S13", "S14"}, {"S24"}, {"S25"}, {"S26"}, {}};
  for (int row = 0; row < 5; ++row) {
    std::unique_ptr<QMenu> menu = f.window.CreateUserMenu(row);
    ASSERT_NE(menu, nullptr);
    std::vector<QString> top;
    for (const QString& line : Describe(*menu)) {
      if (!line.startsWith("  ")) top.push_back(line);
    }
    std::vector<QString> expected{top.front(), "-", "S19", "-"};
    for (const QString& item : tails[static_cast<std::size_t>(row)])
      expected.push_back(item);
    EXPECT_EQ(top, expected) << "row " << row;
    EXPECT_TRUE(top.front().startsWith("> S4 S2 ")) << top.front().toStdString();
  }

  // Every item posts its command for the row the menu was opened on.
  const std::vector<std::pair<int, QString>> picks{{0, "S19"}, {0, "S12"}, {0, "S13"}, {0, "S14"},
                                                   {1, "S24"}, {2, "S25"}, {3, "S26"}};
  for (const auto& [row, text] : picks) {
    std::unique_ptr<QMenu> menu = f.window.CreateUserMenu(row);
    QAction* action = FindAction(*menu, text);
    ASSERT_NE(action, nullptr) << text.toStdString();
    action->trigger();
  }
  // Each carries the MAC of the user the menu was opened for.
  const std::vector<RowCall> expected{{RowCommand::kKick, 0, 0, "00112233-ann"},
                                      {RowCommand::kBlockIp, 0, 0, "00112233-ann"},
                                      {RowCommand::kBlockMac, 0, 0, "00112233-ann"},
                                      {RowCommand::kBlockName, 0, 0, "00112233-ann"},
                                      {RowCommand::kUnblockIp, 1, 0, "00112233-bob"},
                                      {RowCommand::kUnblockMac, 2, 0, "00112233-cy"},
                                      {RowCommand::kUnblockName, 3, 0, "00112233-di"}};
  EXPECT_EQ(f.engine.rowCalls, expected);
  EXPECT_EQ(f.window.CreateUserMenu(5), nullptr);
  EXPECT_EQ(f.window.CreateUserMenu(-1), nullptr);
}

TEST(OperatorWindow, AfsSubmenuMarksTheValueInForce) {
  struct Case {
    int afs;
    int floodStopper;
    QString zeroItem;
    QString checked;  // empty: no check mark at all
  };
  const std::vector<Case> cases{
      {-1, 10, "0 S3", "10"},  // no own value: the FloodStopper default is marked
      {0, 10, "0 S1", "0 S1"}, {25, 10, "0 S3", "25"},
      {-1, 12, "0 S3", ""},  // a default the menu does not offer
      {77, 10, "0 S3", ""},  // an own value the menu does not offer
      {40, 40, "0 S3", "40"},
  };
  for (const Case& c : cases) {
    WindowFixture f;
    f.window.SetTexts(Texts(c.floodStopper));
    f.window.ReplaceUserRows({Row("ann", BlockState::kNone, c.afs)});
    std::unique_ptr<QMenu> menu = f.window.CreateUserMenu(0);
    QMenu* afs = menu->actions().front()->menu();
    ASSERT_NE(afs, nullptr);
    EXPECT_EQ(menu->actions().front()->text(), "S4 S2 ann");
    std::vector<QString> items;
    QStringList checked;
    for (const QAction* action : afs->actions()) {
      items.push_back(action->isSeparator() ? "-" : action->text());
      if (action->isChecked()) checked << action->text();
    }
    const std::vector<QString> expected{c.zeroItem, "-",  "5",  "10", "15",
                                        "20",       "25", "30", "35", "40"};
    EXPECT_EQ(items, expected) << "afs " << c.afs;
    EXPECT_EQ(checked, c.checked.isEmpty() ? QStringList{} : QStringList{c.checked})
        << "afs " << c.afs << " floodStopper " << c.floodStopper;
  }

  // A user without a name, and a name whose "&" must not become a mnemonic.
  WindowFixture f;
  f.window.SetTexts(Texts());
  f.window.ReplaceUserRows({Row("", BlockState::kNone, -1), Row("R&D", BlockState::kNone, -1)});
  EXPECT_EQ(f.window.CreateUserMenu(0)->actions().front()->text(), "S4 S2 n/a");
  EXPECT_EQ(f.window.CreateUserMenu(1)->actions().front()->text(), "S4 S2 R&&D");

  // Choosing a value posts it for the row.
  std::unique_ptr<QMenu> menu = f.window.CreateUserMenu(1);
  FindAction(*menu, "35")->trigger();
  FindAction(*menu, "0 S3")->trigger();
  const std::vector<RowCall> expected{{RowCommand::kSetAfs, 1, 35, "00112233-R&D"},
                                      {RowCommand::kSetAfs, 1, 0, "00112233-R&D"}};
  EXPECT_EQ(f.engine.rowCalls, expected);
}

TEST(OperatorWindow, SendPostsTrimmedCodePageTextOfTwoOrMoreCharacters) {
  WindowFixture f;
  auto* line = f.Child<QLineEdit>("commandLine");
  auto* send = f.Child<QPushButton>("sendButton");
  const auto sendText = [&](const QString& text) {
    line->setText(text);
    send->click();
    EXPECT_TRUE(line->text().isEmpty()) << text.toStdString();
  };
  sendText("");
  sendText("x");
  sendText("   ");
  sendText("  y \t");
  EXPECT_TRUE(f.engine.sent.empty());

  sendText("  hello world  ");
  sendText(" " + kCyrillic + " ");
  sendText(QString::fromUtf8("\xE2\x82\xAC\xE2\x82\xAC"));  // two euro signs, 0x88 each
  sendText(QString::fromUtf8("\xE4\xB8\xAD"));              // not in the code page, one "?"
  const std::vector<std::string> expected{"hello world", kCyrillicBytes, "\x88\x88"};
  EXPECT_EQ(f.engine.sent, expected);

  // Enter in the command line sends as the button does; Refresh posts a refresh.
  f.window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
  line->setFocus();
  QTest::keyClicks(line, "hi there");
  QTest::keyClick(line, Qt::Key_Return);
  EXPECT_EQ(f.engine.sent.back(), "hi there");
  EXPECT_TRUE(line->text().isEmpty());
  f.Child<QPushButton>("refreshButton")->click();
  EXPECT_EQ(f.engine.refreshes, 1);
  EXPECT_EQ(f.engine.shutdowns, 0);
}

TEST(OperatorWindow, CloseBoxHidesOnlyWhenTheTrayCanBringTheWindowBack) {
  {
    WindowFixture f(/*tray=*/true);
    ASSERT_NE(f.Tray(), nullptr);
    EXPECT_TRUE(f.Tray()->isVisible());
    f.window.show();
    EXPECT_FALSE(f.window.close());
    EXPECT_FALSE(f.window.isVisible());
    EXPECT_TRUE(f.Tray()->isVisible());

    // Only a left or right click brings it back.
    emit f.Tray()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_FALSE(f.window.isVisible());
    emit f.Tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(f.window.isVisible());
    f.window.hide();
    emit f.Tray()->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(f.window.isVisible());

    // A minimised window stays minimised.
    f.window.showMinimized();
    f.window.hide();
    emit f.Tray()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(f.window.isVisible());
    EXPECT_TRUE(f.window.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(f.engine.shutdowns, 0);
  }
  {
    // No notification area: hiding would lose the window for good.
    WindowFixture f(/*tray=*/false);
    EXPECT_FALSE(f.Tray()->isVisible());
    f.window.show();
    EXPECT_FALSE(f.window.close());
    EXPECT_TRUE(f.window.isVisible());
    EXPECT_TRUE(f.window.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(f.engine.shutdowns, 0);
  }
}

TEST(OperatorWindow, ExitAndEscapeStopTheEngineOnce) {
  {
    WindowFixture f(/*tray=*/true);
    QSignalSpy exits(&f.window, &OperatorWindow::exitRequested);
    f.window.show();
    f.Child<QPushButton>("exitButton")->click();
    EXPECT_EQ(f.engine.shutdowns, 1);
    EXPECT_EQ(exits.count(), 1);
    EXPECT_FALSE(f.window.isVisible());
    EXPECT_FALSE(f.Tray()->isVisible());
    // A stop signal arriving afterwards changes nothing.
    f.window.RequestExit();
    EXPECT_EQ(f.engine.shutdowns, 1);
    EXPECT_EQ(exits.count(), 1);
  }
  {
    WindowFixture f;
    QSignalSpy exits(&f.window, &OperatorWindow::exitRequested);
    f.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
    QTest::keyClick(f.Child<QLineEdit>("commandLine"), Qt::Key_Escape);
    EXPECT_EQ(f.engine.shutdowns, 1);
    EXPECT_EQ(exits.count(), 1);
    EXPECT_TRUE(f.engine.sent.empty());
  }
}

}  // namespace
}  // namespace orv
