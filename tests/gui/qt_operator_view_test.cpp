#include "gui/qt_operator_view.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTreeWidget>
#include <string>
#include <thread>

#include "fake_engine.h"
#include "gui/operator_window.h"

namespace orv {
namespace {

// Reports made on another thread reach the window only through its event loop, in order.
TEST(QtOperatorView, EngineThreadReportsReachTheWindowInOrder) {
  FakeEngine engine;
  OperatorWindow window(engine, {.trayAvailable = [] { return false; }});
  QtOperatorView view(window);
  auto* console = window.findChild<QPlainTextEdit*>("console");
  auto* list = window.findChild<QTreeWidget*>("userList");
  auto* tray = window.findChild<QSystemTrayIcon*>();
  ASSERT_TRUE(console && list && tray);
  EXPECT_EQ(window.windowTitle(), "ORV Chat Server");

  ViewTexts texts;
  texts.strings.assign(41, "x");
  texts.strings[18] = "Peer";
  // A tooltip of 200 bytes whose first 127 end in a Cyrillic letter.
  const std::string tooltip = std::string(126, 'a') + "\xDF" + std::string(73, 'b');
  std::thread engineThread([&] {
    view.OnEvent(event::ConsoleLine{"dropped"});
    view.OnEvent(event::ConsoleCleared{});
    view.OnEvent(event::ConsoleLine{"[12:00:00] \xCF\xF0\xE8\xE2\xE5\xF2"});
    view.OnEvent(event::ConsoleLine{"\r"});
    for (int i = 0; i < 200; ++i)
      view.OnEvent(event::ConsoleLine{"line " + std::to_string(i)});
    view.OnEvent(event::Title{"ORV Chat Server (\xCF\xF0)"});
    view.OnEvent(event::Texts{texts});
    UserRow row;
    row.mac = "AA";
    view.OnEvent(event::UserList{{row, row}});
    view.OnEvent(event::Tooltip{tooltip});
    ServerStatus status;
    status.listening = true;
    status.address = "127.0.0.1";
    status.port = 9010;
    status.users = 2;
    view.OnEvent(event::Status{status});
  });
  engineThread.join();
  // Nothing is touched before the window's thread runs its queue.
  EXPECT_TRUE(console->toPlainText().isEmpty());
  EXPECT_EQ(list->topLevelItemCount(), 0);

  QTest::qWait(0);
  QCoreApplication::processEvents();
  const QStringList lines = console->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 202);
  EXPECT_EQ(lines[0],
            QString::fromUtf8("[12:00:00] \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"));
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[201], "line 199");
  EXPECT_EQ(console->verticalScrollBar()->value(), console->verticalScrollBar()->maximum());
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8("ORV Chat Server (\xD0\x9F\xD1\x80)"));
  EXPECT_EQ(list->headerItem()->text(3), "Peer");
  EXPECT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(tray->toolTip(), QString(126, 'a') + QString::fromUtf8("\xD0\xAF"));
  EXPECT_EQ(window.findChild<QLabel*>("listeningStatus")->text(), "Listening on 127.0.0.1:9010");
  EXPECT_EQ(window.findChild<QLabel*>("usersStatus")->text(), "Users online: 2");
}

// A report still queued when the window goes away is dropped, not delivered to a dead
// object, nor to the next window (which the allocator is likely to place at the same
// address).
TEST(QtOperatorView, ReportsForAClosedWindowAreDropped) {
  FakeEngine engine;
  auto window = std::make_unique<OperatorWindow>(
      engine, OperatorWindowOptions{.trayAvailable = [] { return false; }});
  auto view = std::make_unique<QtOperatorView>(*window);
  view->OnEvent(event::ConsoleLine{"late"});
  view->OnEvent(event::UserList{{UserRow{}}});
  view.reset();
  window.reset();

  OperatorWindow next(engine, {.trayAvailable = [] { return false; }});
  QtOperatorView nextView(next);
  nextView.OnEvent(event::ConsoleLine{"fresh"});
  QTest::qWait(0);
  QCoreApplication::processEvents();
  EXPECT_EQ(next.findChild<QPlainTextEdit*>("console")->toPlainText(), "fresh");
  EXPECT_EQ(next.findChild<QTreeWidget*>("userList")->topLevelItemCount(), 0);
}

}  // namespace
}  // namespace orv
