#include "gui/operator_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "console/code_page.h"
#include "gui/user_list.h"

#include "fake_engine.h"
#include "user_rows.h"

namespace orv {
namespace {

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
  explicit WindowFixture(bool tray = false)
      : window(engine, {.trayAvailable = [tray] { return tray; },
                        .steadyNowMs = [this] { return nowMs; }}) {}
  template <typename T>
  T* Child(const char* name) {
    T* child = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QSystemTrayIcon* Tray() { return window.findChild<QSystemTrayIcon*>(); }

  FakeEngine engine;
  std::int64_t nowMs = 0;
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
  ASSERT_EQ(list->columnCount(), 6);
  const QStringList headers{"MAC", kCyrillic, "IP", "S18", "S11", "AFS"};
  // The old fixed widths are the least widths now; the name column's is a fifth of the
  // window's width.
  const std::vector<int> least{100, f.window.width() / 5, 75, 75, 50, 50};
  for (int c = 0; c < 6; ++c) {
    EXPECT_EQ(list->headerItem()->text(c), headers[c]) << c;
    EXPECT_GE(list->columnWidth(c), least[static_cast<std::size_t>(c)]) << c;
  }
  EXPECT_EQ(list->columnWidth(1), f.window.width() / 5);
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
  EXPECT_EQ(first->text(5), "(15)");
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
                            Row("ed", static_cast<BlockState>(7), -1),
                            Row("fay", BlockState::kAddress, -1)});
  const std::vector<std::vector<QString>> tails{{"S12", "S13", "S14", "Block connection address"},
                                                {"S24"},
                                                {"S25"},
                                                {"S26"},
                                                {},
                                                {"Unblock connection address"}};
  for (int row = 0; row < 6; ++row) {
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
  const std::vector<std::pair<int, QString>> picks{{0, "S19"},
                                                   {0, "S12"},
                                                   {0, "S13"},
                                                   {0, "S14"},
                                                   {0, "Block connection address"},
                                                   {1, "S24"},
                                                   {2, "S25"},
                                                   {3, "S26"},
                                                   {5, "Unblock connection address"}};
  for (const auto& [row, text] : picks) {
    std::unique_ptr<QMenu> menu = f.window.CreateUserMenu(row);
    QAction* action = FindAction(*menu, text);
    ASSERT_NE(action, nullptr) << text.toStdString();
    action->trigger();
  }
  // Each carries the MAC of the user the menu was opened for.
  const std::vector<std::string> expected{
      "kick 00112233-ann",          "block 00112233-ann by IP",      "block 00112233-ann by MAC",
      "block 00112233-ann by name", "block 00112233-ann by address", "unblock 00112233-bob",
      "unblock 00112233-cy",        "unblock 00112233-di",           "unblock 00112233-fay"};
  EXPECT_EQ(f.engine.userCommands, expected);
  EXPECT_EQ(f.window.CreateUserMenu(6), nullptr);
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
  const std::vector<std::string> expected{"afs 00112233-R&D 35", "afs 00112233-R&D 0"};
  EXPECT_EQ(f.engine.userCommands, expected);
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

// Eight users as an office has them: long MACs and addresses, Cyrillic names.
std::vector<UserRow> Office() {
  std::vector<UserRow> rows{
      User("00-1A-2B-3C-4D-5E", Utf8ToCp1251("Ольга Смирнова"), "192.168.100.200",
           "192.168.100.201"),
      User("00AA11BB22CC", "alice", "10.20.30.40", "10.20.30.41", 25),
      User("00DDEEFF0011", Utf8ToCp1251("Дмитрий"), "172.16.254.129", "127.0.0.1", 0),
      User("A4-5E-60-E2-11-F7", "reception-desk", "192.168.101.17", "127.0.0.1"),
      User("0019D2C3B4A5", "bob", "10.0.0.9", "127.0.0.1"),
      User("F0DEF1A2B3C4", Utf8ToCp1251("Екатерина Волкова"), "10.0.0.10", "127.0.0.1", 40),
      User("001122334455", "warehouse", "192.168.1.5", "127.0.0.1"),
      User("3C-97-0E-AB-CD-EF", "Natalia", "10.100.200.250", "127.0.0.1")};
  rows[3].blockState = BlockState::kName;
  rows[3].blockText = "NAME";
  return rows;
}

void RightClick(QTreeWidget& list, QTreeWidgetItem* item) {
  const QPoint at = list.visualItemRect(item).center();
  QContextMenuEvent click(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
  QCoreApplication::sendEvent(list.viewport(), &click);
}

TEST(OperatorWindow, LongMacsAndAddressesShowWholeAtTheDefaultSize) {
  WindowFixture f;
  f.window.SetTexts(Texts());
  f.window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
  f.window.ReplaceUserRows(Office());
  QCoreApplication::processEvents();
  auto* list = f.Child<UserList>("userList");
  const QHeaderView* head = list->header();
  // No cell and no title is cut: every column is as wide as its widest content needs.
  for (int c = 0; c < kUserColumnCount; ++c) {
    EXPECT_GE(head->sectionSize(c), ContentWidth(*list, c)) << c;
    EXPECT_GE(head->sectionSize(c), head->sectionSizeHint(c)) << c;
  }
  const QFontMetrics metrics(list->font());
  EXPECT_GT(head->sectionSize(kMacColumn), metrics.horizontalAdvance("A4-5E-60-E2-11-F7"));
  EXPECT_GT(head->sectionSize(kIpColumn), metrics.horizontalAdvance("192.168.100.200"));
  EXPECT_GT(head->sectionSize(kPeerColumn), metrics.horizontalAdvance("192.168.100.201"));
  // And at the size the window opens with, all of them fit side by side.
  EXPECT_LE(head->length(), list->viewport()->width());
  EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
}

TEST(OperatorWindow, MenuCommandsCarryTheUsersEngineRowWhateverTheSortAndFilter) {
  WindowFixture f;
  f.window.SetTexts(Texts());
  f.window.ReplaceUserRows({User("M0", "carol", "10.0.0.1"), User("M1", "alice", "10.0.0.2"),
                            User("M2", "bob", "10.0.0.3")});
  f.window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
  auto* list = f.Child<UserList>("userList");
  QHeaderView* head = list->header();
  QTest::mouseClick(head->viewport(), Qt::LeftButton, {},
                    QPoint(head->sectionViewportPosition(kNameColumn) + 5, head->height() / 2));
  ASSERT_EQ(list->topLevelItem(1)->text(kNameColumn), "bob");

  // bob shows second but is the table's row 2.
  OnNextPopup([](QMenu& menu) { FindAction(menu, "S19")->trigger(); });
  RightClick(*list, list->topLevelItem(1));
  // Filtered down to carol, who shows first and is the table's row 0.
  f.Child<QLineEdit>("userFilter")->setText("CAR");
  QTreeWidgetItem* carol = list->findItems("carol", Qt::MatchExactly, 1).front();
  ASSERT_FALSE(carol->isHidden());
  OnNextPopup([](QMenu& menu) { FindAction(menu, "35")->trigger(); });
  RightClick(*list, carol);

  const std::vector<std::string> expected{"kick M2", "afs M0 35"};
  EXPECT_EQ(f.engine.userCommands, expected);
}

TEST(OperatorWindow, SentMessagesShowInTheConsole) {
  WindowFixture f;
  auto* line = f.Child<QLineEdit>("commandLine");
  auto* console = f.Child<QPlainTextEdit>("console");
  EXPECT_EQ(line->placeholderText(), "Message to everyone");
  f.window.AppendConsoleLine("[10:00:00] Server started");
  line->setText("x");
  f.Child<QPushButton>("sendButton")->click();
  EXPECT_EQ(console->toPlainText(), "[10:00:00] Server started");  // nothing went out

  line->setText(QString("  ") + kCyrillic + " all  ");
  f.Child<QPushButton>("sendButton")->click();
  // What went out is echoed by the engine, through the console reports, not twice.
  EXPECT_EQ(f.engine.sent, std::vector<std::string>{std::string(kCyrillicBytes) + " all"});
  EXPECT_EQ(console->toPlainText(), "[10:00:00] Server started");
  EXPECT_TRUE(line->text().isEmpty());
}

TEST(OperatorWindow, EscapeClearsTheLineBeingTypedAndStopsNothing) {
  WindowFixture f(/*tray=*/true);
  QSignalSpy exits(&f.window, &OperatorWindow::exitRequested);
  f.window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
  auto* line = f.Child<QLineEdit>("commandLine");
  auto* filter = f.Child<QLineEdit>("userFilter");

  line->setFocus();
  QTest::keyClicks(line, "a typo");
  QTest::keyClick(line, Qt::Key_Escape);
  EXPECT_TRUE(line->text().isEmpty());
  QTest::keyClick(line, Qt::Key_Escape);  // on an empty line: nothing at all
  EXPECT_TRUE(f.window.isVisible());

  // In the filter box Escape clears the filter, and Enter only filters.
  line->setText("draft");
  filter->setFocus();
  QTest::keyClicks(filter, "bob");
  QTest::keyClick(filter, Qt::Key_Return);
  QTest::keyClick(filter, Qt::Key_Escape);
  EXPECT_TRUE(filter->text().isEmpty());
  EXPECT_EQ(line->text(), "draft");

  EXPECT_TRUE(f.engine.sent.empty());
  EXPECT_EQ(f.engine.shutdowns, 0);
  EXPECT_EQ(exits.count(), 0);
  EXPECT_TRUE(f.window.isVisible());
  EXPECT_TRUE(f.Tray()->isVisible());
}

TEST(OperatorWindow, ExitAsksFirstWhileUsersAreOnlineAndStopsOnce) {
  {
    // Nobody online: Exit stops at once.
    WindowFixture f(/*tray=*/true);
    QSignalSpy exits(&f.window, &OperatorWindow::exitRequested);
    f.window.show();
    f.Child<QPushButton>("exitButton")->click();
    EXPECT_EQ(f.window.findChild<QMessageBox*>("exitQuestion"), nullptr);
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
    WindowFixture f(/*tray=*/true);
    QSignalSpy exits(&f.window, &OperatorWindow::exitRequested);
    f.window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f.window));
    ServerStatus status;
    status.listening = true;
    status.users = 3;
    f.window.SetStatus(status);

    f.Child<QPushButton>("exitButton")->click();
    QPointer<QMessageBox> question = f.window.findChild<QMessageBox*>("exitQuestion");
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(question->isVisible());
    EXPECT_TRUE(question->text().contains("3 users are connected and will be disconnected"))
        << question->text().toStdString();
    // Cancel is what Enter or Escape picks.
    EXPECT_EQ(question->defaultButton(), question->button(QMessageBox::Cancel));
    EXPECT_EQ(question->escapeButton(), question->button(QMessageBox::Cancel));
    question->button(QMessageBox::Cancel)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(question, nullptr);
    EXPECT_EQ(f.engine.shutdowns, 0);
    EXPECT_TRUE(f.window.isVisible());

    // The tray menu's Exit asks too, bringing a hidden window back to ask.
    status.users = 1;
    f.window.SetStatus(status);
    f.window.hide();
    auto* trayMenu = f.Child<QMenu>("trayMenu");
    ASSERT_EQ(f.Tray()->contextMenu(), trayMenu);
    FindAction(*trayMenu, "Exit")->trigger();
    question = f.window.findChild<QMessageBox*>("exitQuestion");
    ASSERT_NE(question, nullptr);
    EXPECT_TRUE(f.window.isVisible());
    EXPECT_TRUE(question->text().contains("1 user is connected")) << question->text().toStdString();
    EXPECT_EQ(f.engine.shutdowns, 0);
    f.Child<QPushButton>("confirmExit")->click();
    EXPECT_EQ(f.engine.shutdowns, 1);
    EXPECT_EQ(exits.count(), 1);
    EXPECT_FALSE(f.window.isVisible());
  }
}

TEST(OperatorWindow, TrayMenuShowsTheWindow) {
  WindowFixture f(/*tray=*/true);
  auto* trayMenu = f.Child<QMenu>("trayMenu");
  std::vector<QString> items;
  for (const QAction* action : trayMenu->actions())
    items.push_back(action->isSeparator() ? "-" : action->text());
  EXPECT_EQ(items, (std::vector<QString>{"Show", "-", "Exit"}));
  // Show brings back a hidden window, and a minimised one too.
  f.window.showMinimized();
  f.window.hide();
  FindAction(*trayMenu, "Show")->trigger();
  EXPECT_TRUE(f.window.isVisible());
  EXPECT_FALSE(f.window.windowState() & Qt::WindowMinimized);
  EXPECT_EQ(f.engine.shutdowns, 0);
}

TEST(OperatorWindow, StatusBarShowsWhereItListensWhoIsOnlineAndForHowLong) {
  WindowFixture f;
  const auto text = [&](const char* name) { return f.Child<QLabel>(name)->text(); };
  EXPECT_EQ(text("listeningStatus"), "");
  EXPECT_EQ(text("uptimeStatus"), "");

  ServerStatus status;
  status.listening = true;
  status.address = "";
  status.port = 9010;
  status.users = 8;
  status.startedAtMs = 5'000;
  f.nowMs = 5'000 + 65'000;
  f.window.SetStatus(status);
  EXPECT_EQ(text("listeningStatus"), "Listening on 0.0.0.0:9010");
  EXPECT_EQ(text("usersStatus"), "Users online: 8");
  EXPECT_EQ(text("uptimeStatus"), "Up 0:01:05");

  // The uptime goes on by itself, once a second.
  f.nowMs += 3'600'000;
  EXPECT_TRUE(QTest::qWaitFor([&] { return text("uptimeStatus") == "Up 1:01:05"; }, 3000));

  status.listening = false;
  status.address = "127.0.0.1";
  status.notListeningReason = "bind 127.0.0.1:9010: Address already in use";
  status.users = 0;
  f.window.SetStatus(status);
  EXPECT_EQ(text("listeningStatus"), "Not listening: bind 127.0.0.1:9010: Address already in use");
  EXPECT_EQ(text("usersStatus"), "Users online: 0");
}

TEST(OperatorWindow, SizePositionAndSplitterAreKeptBetweenRuns) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString file = folder.filePath("state/window.ini");
  FakeEngine engine;
  const auto noTray = [] { return false; };
  QSize size;
  QList<int> shares;
  {
    OperatorWindow first(engine, {.trayAvailable = noTray, .stateFile = file});
    // A first run opens at the default size (or what the screen has room for), the console
    // with a good share of the height.
    EXPECT_GE(first.width(), OperatorWindow::kMinWidth);
    EXPECT_LE(first.width(), OperatorWindow::kDefaultWidth);
    first.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    auto* splitter = first.findChild<QSplitter*>("splitter");
    const QList<int> opening = splitter->sizes();
    ASSERT_EQ(opening.size(), 2);
    EXPECT_GT(opening[0] * 3, (opening[0] + opening[1]))
        << opening[0] << " of " << opening[0] + opening[1];

    first.resize(640, 430);
    QCoreApplication::processEvents();
    splitter->setSizes({120, 200});
    size = first.size();
    shares = splitter->sizes();
    first.RequestExit();
  }
  ASSERT_TRUE(QFile::exists(file));
  OperatorWindow second(engine, {.trayAvailable = noTray, .stateFile = file});
  second.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
  EXPECT_EQ(second.size(), size);
  EXPECT_EQ(second.findChild<QSplitter*>("splitter")->sizes(), shares);
}
}  // namespace
}  // namespace orv
