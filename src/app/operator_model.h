// The operator window's rules, for every toolkit: the user list as shown (filtered, sorted,
// with the selection kept on the user's MAC), what Exit, the close box, Escape and Enter do,
// what the command line sends, and the window's sizes. The Qt and the Windows windows only
// draw what it says and hand it what the operator did. Texts it gives are UTF-8; texts it
// takes from the engine are code-page bytes. One thread (the window's).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/user_menu_model.h"
#include "server/operator_command.h"
#include "server/operator_values.h"

namespace orv {

// The user list's columns, left to right.
enum UserColumn : int {
  kMacColumn,
  kNameColumn,
  kIpColumn,
  kPeerColumn,
  kBlockColumn,
  kAfsColumn,
  kUserColumnCount
};

// How the list is ordered: the engine's table order until the operator clicks a column.
enum class SortOrder { kTable, kAscending, kDescending };

// One user as the list shows it.
struct ListedUser {
  int engineRow = -1;  // the user's row in the engine's table (never the row as shown)
  std::string mac;     // as the engine has it: what keeps the selection on the user
  std::array<std::string, kUserColumnCount> cells;  // client texts with control characters escaped
  bool ownAfs = false;  // false: the AFS cell shows the FloodStopper value, in brackets
  bool shown = true;    // false: the filter hides it
};

struct WindowSize {
  int width = 0;
  int height = 0;
  bool operator==(const WindowSize&) const = default;
};

// What Exit (the button, the tray menu's item) does.
enum class ExitStep {
  kStop,           // nobody online: stop at once
  kAsk,            // ask ExitQuestion() first, with Cancel (No) as the default answer
  kQuestionOpen,   // the question is open already: bring it to the front
  kStoppedAlready  // nothing
};

// What the close box does: it never stops the server. Hidden, the window comes back only
// through the tray icon, so without one it is minimised. Either way the window's state is
// kept first.
enum class CloseStep { kHide, kMinimise, kNothing };

class OperatorModel {
 public:
  // The smallest size the window can be dragged to, and the size of a first run, in pixels
  // at 96 dots per inch.
  static constexpr WindowSize kLeastSize{530, 370};
  static constexpr WindowSize kFirstSize{760, 540};
  // The console's share of the height it shares with the user list, on a first run.
  static constexpr int kFirstConsolePercent = 40;
  // Tooltips are cut to this many code-page bytes, as the tray always did.
  static constexpr std::size_t kTooltipBytes = 127;

  // Engine reports.
  void SetRows(std::vector<UserRow> rows);
  void SetTexts(ViewTexts texts);
  void SetStatus(const ServerStatus& status);
  const ViewTexts& Texts() const { return texts_; }
  int UsersOnline() const { return usersOnline_; }

  // The user list. Every user, in the order shown, those the filter hides included (so
  // that column widths fit everybody and do not jump while the operator types).
  const std::vector<ListedUser>& Users() const { return users_; }
  // The users the filter lets through, in the order shown.
  std::size_t ShownCount() const { return shown_.size(); }
  const ListedUser& Shown(std::size_t position) const { return users_[shown_[position]]; }
  // Header titles; the least width of each column, the name column's a fifth of the
  // window's width.
  std::array<std::string, kUserColumnCount> ColumnTitles() const;
  static std::array<int, kUserColumnCount> LeastColumnWidths(int windowWidth);

  // Shows only users whose name, MAC or either address contains text (UTF-8, trimmed),
  // ignoring case; empty: everybody.
  void SetFilter(std::string_view text);
  // A click on a column's title: ascending, descending, then the engine's order again.
  void ClickColumn(int column);
  int SortColumn() const { return sortColumn_; }  // -1: the engine's order
  SortOrder Order() const;

  // The selection follows the user (by MAC) across refreshes, sorting and filtering; a user
  // who leaves takes it along. position is in the shown users, -1 for nobody.
  void SelectShown(int position);
  // Where the selected user is among the shown ones; -1 when nobody is selected or the
  // filter hides the selected user.
  int SelectedShown() const;
  const std::string& SelectedMac() const { return selectedMac_; }

  // The context menu of the user in engineRow of the last rows reported; none when there
  // is no such row.
  std::optional<UserMenuModel> MenuFor(int engineRow) const;

  // The command line: what Send (or Enter outside the filter box) sends for text as typed,
  // trimmed and in the code page; nothing under 2 bytes. The window clears the line either
  // way.
  static std::optional<OperatorCommand> SendCommand(std::string_view text);
  // Enter in the filter box only filters.
  static bool EnterSends(bool filterHasFocus) { return !filterHasFocus; }
  // Escape stops nothing: it clears the filter when the filter box has the focus, else the
  // command line.
  enum class EscapeClears { kCommandLine, kFilter };
  static EscapeClears Escape(bool filterHasFocus) {
    return filterHasFocus ? EscapeClears::kFilter : EscapeClears::kCommandLine;
  }

  // Exit asks while users are online. ExitAsked: the question is open; ExitAnswered: it is
  // gone, with whether the operator chose to stop.
  ExitStep Exit() const;
  std::string ExitQuestion() const;
  void ExitAsked() { asking_ = true; }
  // true: stop now.
  bool ExitAnswered(bool stop);
  // The one stop (a confirmed Exit, the stop signals, the end of the session): true the
  // first time, false after.
  bool BeginStop();
  bool Stopping() const { return stopping_; }
  CloseStep CloseBox(bool trayShown) const;

  // The size of a first run on a screen whose free area is workArea, at dpi dots per inch:
  // the first size, less where the screen has not a tenth to spare, never under the least.
  static WindowSize FirstSize(WindowSize workArea, int dpi = 96);
  static WindowSize LeastSize(int dpi = 96);
  // Whether a kept size is worth restoring (not under the least size).
  static bool Restorable(WindowSize kept, int dpi = 96);
  // The console's share (percent) kept between runs, or the first one when the kept value
  // would leave either pane almost nothing.
  static int ConsolePercent(int kept);

  // Shown texts from the engine: a console line without carriage returns, the tray's
  // tooltip cut as the tray always did, a refused command's reason.
  static std::string ConsoleText(std::string_view line);
  static std::string TooltipText(std::string_view text);
  static std::string RefusalText(const Outcome& outcome);

 private:
  void Rebuild();

  std::vector<UserRow> rows_;
  ViewTexts texts_;
  int usersOnline_ = 0;

  std::vector<ListedUser> users_;
  std::vector<std::size_t> shown_;
  std::vector<std::array<std::string, kUserColumnCount>> sortKeys_;  // by engine row
  std::string filter_;                                               // case-folded
  int sortColumn_ = -1;
  bool descending_ = false;
  std::string selectedMac_;

  bool asking_ = false;
  bool stopping_ = false;
};

}  // namespace orv
