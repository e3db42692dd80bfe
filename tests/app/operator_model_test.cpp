#include "app/operator_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

// "Ольга" in Windows-1251, and "ольга" / "ОЛЬГА" / "Ёж" as UTF-8.
const std::string kOlgaBytes = "\xCE\xEB\xFC\xE3\xE0";
const std::string kOlga = "\xD0\x9E\xD0\xBB\xD1\x8C\xD0\xB3\xD0\xB0";
const std::string kOlgaSmall = "\xD0\xBE\xD0\xBB\xD1\x8C\xD0\xB3\xD0\xB0";
const std::string kOlgaCapitals = "\xD0\x9E\xD0\x9B\xD0\xAC\xD0\x93\xD0\x90";

UserRow User(std::string mac, std::string name, std::string ip = "10.0.0.1",
             std::string peer = "127.0.0.1", int afs = -1) {
  UserRow row;
  row.mac = std::move(mac);
  row.name = std::move(name);
  row.reportedIp = std::move(ip);
  row.peerAddress = std::move(peer);
  row.afs = afs;
  return row;
}

ViewTexts Texts(int floodStopper = 15) {
  ViewTexts texts;
  for (int n = 0; n < kStringCount; ++n)
    texts.strings.push_back("S" + std::to_string(n));
  texts.strings[static_cast<std::size_t>(StringId::kNameColumn)] = kOlgaBytes;
  texts.floodStopper = floodStopper;
  return texts;
}

// The cells of column for the users shown, top to bottom.
std::vector<std::string> Shown(const OperatorModel& model, int column = kNameColumn) {
  std::vector<std::string> cells;
  for (std::size_t n = 0; n < model.ShownCount(); ++n)
    cells.push_back(model.Shown(n).cells[static_cast<std::size_t>(column)]);
  return cells;
}

using Texts_ = std::vector<std::string>;

TEST(OperatorModel, ListShowsEveryUsersCellsWithTheirEngineRows) {
  OperatorModel model;
  model.SetTexts(Texts(10));
  EXPECT_EQ(model.ColumnTitles(),
            (std::array<std::string, kUserColumnCount>{"MAC", kOlga, "IP", "S18", "S11", "AFS"}));
  EXPECT_EQ(OperatorModel::LeastColumnWidths(760),
            (std::array<int, kUserColumnCount>{100, 152, 75, 75, 50, 50}));

  UserRow blocked = User("M2", "", "10.0.0.2", "10.0.0.3", 0);
  blocked.blockState = BlockState::kMac;
  blocked.blockText = "MAC";
  model.SetRows(
      {User("M1", kOlgaBytes, "10.0.0.1", "127.0.0.1", 25), blocked, User("M3", "two\r\nlines")});
  ASSERT_EQ(model.ShownCount(), 3u);
  EXPECT_EQ(model.UsersOnline(), 3);
  const ListedUser& first = model.Shown(0);
  EXPECT_EQ(first.engineRow, 0);
  EXPECT_EQ(first.mac, "M1");
  EXPECT_EQ(first.cells, (std::array<std::string, kUserColumnCount>{"M1", kOlga, "10.0.0.1",
                                                                    "127.0.0.1", "", "25"}));
  EXPECT_TRUE(first.ownAfs);
  // No name shows as nothing (the menu says "n/a"); 0 is a value of the user's own.
  EXPECT_EQ(model.Shown(1).cells, (std::array<std::string, kUserColumnCount>{
                                      "M2", "", "10.0.0.2", "10.0.0.3", "MAC", "0"}));
  // What clients wrote cannot break a row into lines; no value of its own: the FloodStopper
  // value in brackets.
  EXPECT_EQ(model.Shown(2).cells[kNameColumn], "two\\r\\nlines");
  EXPECT_EQ(model.Shown(2).cells[kAfsColumn], "(10)");
  EXPECT_FALSE(model.Shown(2).ownAfs);
  // A reload that changes FloodStopper shows at once.
  model.SetTexts(Texts(20));
  EXPECT_EQ(model.Shown(2).cells[kAfsColumn], "(20)");

  // A refresh replaces the rows; the menu is the one of the engine's row.
  model.SetRows({User("M3", "carol")});
  EXPECT_EQ(Shown(model), Texts_{"carol"});
  ASSERT_TRUE(model.MenuFor(0).has_value());
  EXPECT_EQ(model.MenuFor(0)->afsTitle, "S4 S2 carol");
  EXPECT_FALSE(model.MenuFor(1).has_value());
  EXPECT_FALSE(model.MenuFor(-1).has_value());
  model.SetRows({});
  EXPECT_EQ(model.ShownCount(), 0u);
  EXPECT_EQ(model.UsersOnline(), 0);
}

TEST(OperatorModel, ColumnClicksSortUpDownAndBackToTheTableOrder) {
  OperatorModel model;
  model.SetTexts(Texts());
  model.SetRows({User("M3", "carol", "10.0.0.10", "127.0.0.1", 5),
                 User("M1", "alice", "10.0.0.9", "127.0.0.1", -1),
                 User("M2", "Bob", "10.0.0.100", "127.0.0.1", 40)});
  EXPECT_EQ(model.Order(), SortOrder::kTable);
  EXPECT_EQ(Shown(model), (Texts_{"carol", "alice", "Bob"}));

  model.ClickColumn(kNameColumn);
  EXPECT_EQ(model.SortColumn(), kNameColumn);
  EXPECT_EQ(model.Order(), SortOrder::kAscending);
  EXPECT_EQ(Shown(model), (Texts_{"alice", "Bob", "carol"}));  // case ignored
  model.ClickColumn(kNameColumn);
  EXPECT_EQ(model.Order(), SortOrder::kDescending);
  EXPECT_EQ(Shown(model), (Texts_{"carol", "Bob", "alice"}));
  model.ClickColumn(kNameColumn);
  EXPECT_EQ(model.Order(), SortOrder::kTable);
  EXPECT_EQ(model.SortColumn(), -1);
  EXPECT_EQ(Shown(model), (Texts_{"carol", "alice", "Bob"}));

  // Addresses by their numbers; AFS by the value in force (alice has FloodStopper's 15);
  // another column starts ascending again.
  model.ClickColumn(kIpColumn);
  EXPECT_EQ(Shown(model, kIpColumn), (Texts_{"10.0.0.9", "10.0.0.10", "10.0.0.100"}));
  model.ClickColumn(kAfsColumn);
  EXPECT_EQ(model.Order(), SortOrder::kAscending);
  EXPECT_EQ(Shown(model), (Texts_{"carol", "alice", "Bob"}));
  model.ClickColumn(kAfsColumn);
  EXPECT_EQ(Shown(model), (Texts_{"Bob", "alice", "carol"}));

  // The sort holds for later refreshes; equal keys keep the table order either way round.
  model.ClickColumn(kBlockColumn);
  model.SetRows({User("M4", "dave"), User("M1", "alice"), User("M2", "Bob")});
  EXPECT_EQ(Shown(model), (Texts_{"dave", "alice", "Bob"}));
  model.ClickColumn(kBlockColumn);
  EXPECT_EQ(Shown(model), (Texts_{"dave", "alice", "Bob"}));

  // Cyrillic ignores case too, and sorts after Latin; a name that is no address sorts
  // after the addresses.
  model.ClickColumn(kBlockColumn);
  model.SetRows({User("M5", kOlgaBytes, "host"), User("M6", "\xE0\xED\xFF", "10.0.0.1"),
                 User("M7", "zed", "9.0.0.1")});
  model.ClickColumn(kNameColumn);
  EXPECT_EQ(Shown(model), (Texts_{"zed", "\xD0\xB0\xD0\xBD\xD1\x8F", kOlga}));
  model.ClickColumn(kIpColumn);
  EXPECT_EQ(Shown(model, kIpColumn), (Texts_{"9.0.0.1", "10.0.0.1", "host"}));
  // Clicks beside the columns change nothing.
  model.ClickColumn(kUserColumnCount);
  model.ClickColumn(-1);
  EXPECT_EQ(model.SortColumn(), kIpColumn);
}

TEST(OperatorModel, FilterMatchesNameMacOrEitherAddressIgnoringCase) {
  OperatorModel model;
  model.SetRows({User("00AABBCC0011", "alice", "192.168.1.23", "127.0.0.1"),
                 User("00DDEEFF0022", kOlgaBytes, "192.168.1.42", "10.9.8.7"),
                 User("00CCDD001122", "bob", "172.16.0.5", "127.0.0.1")});
  const auto namesFor = [&](const std::string& filter) {
    model.SetFilter(filter);
    return Shown(model);
  };
  EXPECT_EQ(namesFor("ALI"), Texts_{"alice"});
  EXPECT_EQ(namesFor(kOlgaSmall.substr(0, 6)), Texts_{kOlga});
  EXPECT_EQ(namesFor(kOlgaCapitals), Texts_{kOlga});
  EXPECT_EQ(namesFor("ccdd"), Texts_{"bob"});                   // MAC, any case
  EXPECT_EQ(namesFor("192.168.1."), (Texts_{"alice", kOlga}));  // reported IP
  EXPECT_EQ(namesFor("10.9.8"), Texts_{kOlga});                 // connection address
  EXPECT_EQ(namesFor("nobody"), Texts_{});
  EXPECT_EQ(namesFor(" \t bob \xE3\x80\x80"), Texts_{"bob"});  // white space trimmed
  EXPECT_EQ(namesFor("\xE4\xB8\xAD"), Texts_{});               // not in the code page
  EXPECT_EQ(namesFor(""), (Texts_{"alice", kOlga, "bob"}));

  // The filter holds for later refreshes; hidden users keep their engine rows, and are
  // still there for the widths.
  model.SetFilter("b");
  model.SetRows({User("00CCDD001122", "bob"), User("X1", "barbara"), User("X2", "carol")});
  EXPECT_EQ(Shown(model), (Texts_{"bob", "barbara"}));
  EXPECT_EQ(model.Shown(1).engineRow, 1);
  ASSERT_EQ(model.Users().size(), 3u);
  EXPECT_FALSE(model.Users()[2].shown);
  EXPECT_EQ(model.Users()[2].cells[kNameColumn], "carol");
}

TEST(OperatorModel, SelectionFollowsTheUsersMac) {
  OperatorModel model;
  model.SetRows({User("M3", "carol"), User("M1", "alice"), User("M2", "Bob")});
  EXPECT_EQ(model.SelectedShown(), -1);
  model.ClickColumn(kNameColumn);
  model.SelectShown(1);  // Bob, the table's row 2
  EXPECT_EQ(model.SelectedMac(), "M2");
  EXPECT_EQ(model.Shown(1).engineRow, 2);

  // A refresh brings newcomers, leavers and a new table order: the selection stays on Bob.
  model.SetRows({User("M2", "Bob"), User("M4", "dave"), User("M1", "alice")});
  EXPECT_EQ(model.SelectedShown(), 1);
  EXPECT_EQ(model.Shown(1).engineRow, 0);
  model.ClickColumn(kNameColumn);
  EXPECT_EQ(model.SelectedShown(), 1);  // dave, Bob, alice
  model.ClickColumn(kNameColumn);
  EXPECT_EQ(model.SelectedShown(), 0);  // the table's order

  // Filtered out, Bob is not shown as selected, and is again when the filter lets him by.
  model.SetFilter("dav");
  EXPECT_EQ(model.SelectedShown(), -1);
  EXPECT_EQ(model.SelectedMac(), "M2");
  model.SetFilter("");
  EXPECT_EQ(model.SelectedShown(), 0);

  // A user who leaves takes the selection along, also when he comes back.
  model.SetRows({User("M1", "alice")});
  EXPECT_EQ(model.SelectedShown(), -1);
  model.SetRows({User("M1", "alice"), User("M2", "Bob")});
  EXPECT_EQ(model.SelectedShown(), -1);
  model.SelectShown(0);
  model.SelectShown(5);  // no such row: nobody
  EXPECT_EQ(model.SelectedMac(), "");
}

TEST(OperatorModel, SendTakesTrimmedCodePageTextOfTwoOrMoreBytes) {
  const auto sent = [](const std::string& text) -> std::string {
    const std::optional<OperatorCommand> command = OperatorModel::SendCommand(text);
    if (!command) return "(nothing)";
    return std::get<command::Send>(*command).text;
  };
  for (const std::string text : {"", "x", "   ", "  y \t", "\xE4\xB8\xAD", "\xC2\xA0z\xE3\x80\x80"})
    EXPECT_EQ(sent(text), "(nothing)") << text;
  EXPECT_EQ(sent("  hello world  "), "hello world");
  EXPECT_EQ(sent(" " + kOlga + "\n"), kOlgaBytes);
  EXPECT_EQ(sent("\xE2\x82\xAC\xE2\x82\xAC"), "\x88\x88");  // two euro signs
  // A character the code page lacks counts as the one byte the clients get.
  EXPECT_EQ(sent("\xE4\xB8\xAD\xE4\xB8\xAD"), "??");

  // Enter in the filter box sends nothing; Escape clears the line that has the focus.
  EXPECT_TRUE(OperatorModel::EnterSends(false));
  EXPECT_FALSE(OperatorModel::EnterSends(true));
  EXPECT_EQ(OperatorModel::Escape(true), OperatorModel::EscapeClears::kFilter);
  EXPECT_EQ(OperatorModel::Escape(false), OperatorModel::EscapeClears::kCommandLine);
}

TEST(OperatorModel, ExitAsksWhileUsersAreOnlineAndStopsOnce) {
  OperatorModel model;
  EXPECT_EQ(model.Exit(), ExitStep::kStop);

  // Users online, from a list or from the status.
  model.SetRows({User("M1", "a"), User("M2", "b"), User("M3", "c")});
  EXPECT_EQ(model.Exit(), ExitStep::kAsk);
  EXPECT_NE(model.ExitQuestion().find("3 users are connected and will be disconnected"),
            std::string::npos);
  model.ExitAsked();
  EXPECT_EQ(model.Exit(), ExitStep::kQuestionOpen);  // the tray's Exit meanwhile
  EXPECT_FALSE(model.ExitAnswered(false));
  ServerStatus status;
  status.users = 1;
  model.SetStatus(status);
  EXPECT_EQ(model.Exit(), ExitStep::kAsk);
  EXPECT_NE(model.ExitQuestion().find("1 user is connected"), std::string::npos);
  status.users = 0;
  model.SetStatus(status);
  EXPECT_EQ(model.Exit(), ExitStep::kStop);
  status.users = 2;
  model.SetStatus(status);
  model.ExitAsked();
  EXPECT_TRUE(model.ExitAnswered(true));

  // The close box hides where the tray can bring the window back, else minimises.
  EXPECT_EQ(model.CloseBox(true), CloseStep::kHide);
  EXPECT_EQ(model.CloseBox(false), CloseStep::kMinimise);

  // One stop, whoever asks for it; nothing after it.
  EXPECT_TRUE(model.BeginStop());
  EXPECT_TRUE(model.Stopping());
  EXPECT_FALSE(model.BeginStop());
  EXPECT_EQ(model.Exit(), ExitStep::kStoppedAlready);
  EXPECT_EQ(model.CloseBox(true), CloseStep::kNothing);
  // A question still open when a stop signal came: its answer stops nothing more.
  model.ExitAsked();
  EXPECT_FALSE(model.ExitAnswered(true));
}

TEST(OperatorModel, WindowSizes) {
  using M = OperatorModel;
  EXPECT_EQ(M::FirstSize({1920, 1040}), (WindowSize{760, 540}));
  // A small screen: nine tenths of it, never under the least size.
  EXPECT_EQ(M::FirstSize({800, 580}), (WindowSize{720, 522}));
  EXPECT_EQ(M::FirstSize({400, 300}), (WindowSize{530, 370}));
  // At 150 %.
  EXPECT_EQ(M::FirstSize({2560, 1400}, 144), (WindowSize{1140, 810}));
  EXPECT_EQ(M::LeastSize(144), (WindowSize{795, 555}));

  EXPECT_TRUE(M::Restorable({530, 370}));
  EXPECT_FALSE(M::Restorable({529, 600}));
  EXPECT_FALSE(M::Restorable({600, 369}));
  EXPECT_FALSE(M::Restorable({700, 500}, 144));
  EXPECT_EQ(M::ConsolePercent(30), 30);
  for (int kept : {-32768, 0, 5, 95, 100})
    EXPECT_EQ(M::ConsolePercent(kept), M::kFirstConsolePercent) << kept;
}

TEST(OperatorModel, EngineTextsAsShown) {
  EXPECT_EQ(OperatorModel::ConsoleText("[10:00:00] " + kOlgaBytes + "\r"), "[10:00:00] " + kOlga);
  // The tooltip is cut after 127 code-page characters.
  const std::string tip =
      OperatorModel::TooltipText(std::string(120, 'a') + kOlgaBytes + kOlgaBytes);
  EXPECT_EQ(tip, std::string(120, 'a') + kOlga + "\xD0\x9E\xD0\xBB");
  EXPECT_EQ(OperatorModel::TooltipText("Srv: 3 users"), "Srv: 3 users");

  Outcome refused;
  refused.done = false;
  refused.lines = {"No user with MAC M1 is online.", kOlgaBytes};
  EXPECT_EQ(OperatorModel::RefusalText(refused), "No user with MAC M1 is online.\n" + kOlga);
}

}  // namespace
}  // namespace orv
