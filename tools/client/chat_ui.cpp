#include "chat_ui.h"

#include <asio.hpp>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "chat_screen.h"
#include "chat_session.h"
#include "console/code_page.h"
#include "conversation.h"
#include "line_editor.h"
#include "line_reader.h"
#include "terminal.h"

namespace orv::client {

namespace {

std::string LocalTime(const char* format) {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* local = std::localtime(&now)) std::strftime(text, sizeof text, format, local);
  return text;
}

// Characters the input line takes: those the wire's code page can carry, no control
// characters.
bool Sendable(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
  if (c == U'?') return true;
  return Utf8ToCp1251(EncodeUtf8(std::u32string(1, c))) != "?";
}

std::u32string Lower(std::u32string text) {
  for (char32_t& c : text) {
    if (c >= U'A' && c <= U'Z') c += 32;
    if (c >= U'\u0410' && c <= U'\u042F') c += 32;
    if (c == U'\u0401') c = U'\u0451';
  }
  return text;
}

// Plain lines on stdout, typed lines from stdin: the chat in a pipe or a file.
class LineUi final : public ChatOutput {
 public:
  explicit LineUi(asio::io_context& io) : io_(io) {}

  void Show(const ChatLine& line) override {
    std::cout << LocalTime("[%H:%M:%S] ") << line.Plain() << std::endl;
  }
  void Changed() override {}
  void Ended(int status) override {
    status_ = status;
    io_.stop();
  }
  int status() const { return status_; }

 private:
  asio::io_context& io_;
  int status_ = kOk;
};

// The chat screen on the terminal, from the first attempt to connect on.
class TerminalUi final : public ChatOutput {
 public:
  TerminalUi(asio::io_context& io, std::unique_ptr<Terminal> terminal)
      : io_(io),
        terminal_(std::move(terminal)),
        screen_(terminal_->Colour()),
        editor_(Sendable),
        ticker_(io) {}
  ~TerminalUi() override { Close(); }

  void Attach(ChatSession& session) {
    session_ = &session;
    terminal_->Start({[this](const Key& key) { OnKey(key); }, [this] { Redraw(); },
                      [this] { session_->Quit(); }});
  }

  void Show(const ChatLine& line) override {
    screen_.Add(line, LocalTime("%H:%M"));
    if (!connected_) early_.push_back(line);
    Redraw();
  }

  void Changed() override {
    if (session_->link() == ChatSession::Link::kConnected) connected_ = true;
    UpdatePane();
    Redraw();
    if (session_->link() == ChatSession::Link::kWaiting) Tick();
  }

  void Ended(int status) override {
    if (status_ == kOk) status_ = status;
    io_.stop();
  }

  // Gives the terminal back; what went wrong before any connection stood is said again on
  // the terminal as it is, since the screen has gone with its lines.
  void Close() {
    if (closed_) return;
    closed_ = true;
    terminal_->Close();
    if (connected_) return;
    for (const ChatLine& line : early_) {
      std::string text = line.Plain();
      if (text.starts_with("-- ")) text.erase(0, 3);
      std::cerr << "orvchat-client: " << text << "\n";
    }
  }
  int status() const { return status_; }

 private:
  void OnKey(const Key& key) {
    using Code = Key::Code;
    screen_.SetHint({});
    switch (key.code) {
      case Code::kPageUp:
        screen_.PageUp();
        break;
      case Code::kPageDown:
        screen_.PageDown();
        break;
      case Code::kTab:
        Complete();
        break;
      case Code::kEscape:
        break;
      case Code::kControl:
        if (key.ch == U'c' || (key.ch == U'd' && editor_.text().empty())) {
          session_->Quit();
          return;
        }
        [[fallthrough]];
      default:
        switch (editor_.Handle(key)) {
          case LineEditor::Result::kSubmit: {
            const std::string line = EncodeUtf8(editor_.TakeLine());
            screen_.ScrollToEnd();
            session_->OnTyped(line);
            break;
          }
          case LineEditor::Result::kRefused:
            screen_.SetHint("the chat's code page has no such character");
            break;
          default:
            break;
        }
    }
    Redraw();
  }

  // Tab: the word before the cursor completed to a name of the user list.
  void Complete() {
    const std::u32string& text = editor_.text();
    std::size_t start = editor_.cursor();
    while (start > 0 && text[start - 1] != U' ')
      --start;
    const std::u32string word = Lower(text.substr(start, editor_.cursor() - start));
    if (word.empty()) return;
    std::vector<std::u32string> matches;
    for (const Member& member : session_->conversation().roster().Sorted()) {
      const std::u32string name = DecodeUtf8(ShownText(member.name));
      if (Lower(name).starts_with(word)) matches.push_back(name);
    }
    if (matches.empty()) return;
    std::u32string common = matches.front();
    for (const std::u32string& name : matches) {
      std::size_t same = 0;
      while (same < common.size() && same < name.size() &&
             Lower(common.substr(same, 1)) == Lower(name.substr(same, 1)))
        ++same;
      common.resize(same);
    }
    // The name as it is written, whatever case was typed.
    for (std::size_t i = 0; i < word.size(); ++i)
      editor_.Handle({Key::Code::kBackspace, 0});
    editor_.Insert(common);
    if (matches.size() == 1) {
      editor_.Insert(start == 0 ? U": " : U" ");
    } else {
      std::string names;
      for (const std::u32string& name : matches)
        names += (names.empty() ? "" : " ") + EncodeUtf8(name);
      screen_.SetHint(names);
    }
  }

  void UpdatePane() {
    std::vector<PaneEntry> entries;
    const std::string& ownMac = session_->state().who.mac;
    for (const Member& member : session_->conversation().roster().Sorted()) {
      entries.push_back({ShownText(member.name), member.mac == ownMac,
                         member.statusCode == 2 || member.statusCode == 3});
    }
    const std::size_t count = entries.size();
    screen_.SetPane(std::move(entries), "Online (" + std::to_string(count) + ")");
    screen_.SetStatus(StatusText());
  }

  std::string StatusText() const {
    const ChatSession& session = *session_;
    std::string text = ShownText(session.state().who.name) + " @ " + session.address();
    switch (session.link()) {
      case ChatSession::Link::kConnecting:
        return text + " | connecting";
      case ChatSession::Link::kWaiting: {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(
            session.retryAt() - ChatSession::Clock::now());
        return text + " | disconnected, connecting again in " +
               std::to_string(std::max<long long>(0, left.count() + 1)) + " s";
      }
      case ChatSession::Link::kOver:
        return text + " | closed";
      case ChatSession::Link::kConnected:
        break;
    }
    text += " | " + std::to_string(session.conversation().roster().size()) + " online";
    if (session.afs() > 0) text += " | AFS " + std::to_string(session.afs()) + "/min";
    if (session.waiting() > 0) text += " | " + std::to_string(session.waiting()) + " waiting";
    return text;
  }

  // While disconnected, the status bar counts down to the next attempt.
  void Tick() {
    if (ticking_) return;
    ticking_ = true;
    ticker_.expires_after(std::chrono::milliseconds(500));
    ticker_.async_wait([this](const asio::error_code& ec) {
      ticking_ = false;
      if (ec || session_->link() != ChatSession::Link::kWaiting) return;
      screen_.SetStatus(StatusText());
      Redraw();
      Tick();
    });
  }

  // Many changes in one go (a burst of packets) make one drawing.
  void Redraw() {
    if (redrawPosted_ || closed_) return;
    redrawPosted_ = true;
    asio::post(io_, [this] {
      redrawPosted_ = false;
      if (closed_) return;
      screen_.SetStatus(StatusText());
      terminal_->Draw(screen_.Render(terminal_->Rows(), terminal_->Cols(), editor_));
    });
  }

  asio::io_context& io_;
  ChatSession* session_ = nullptr;
  std::unique_ptr<Terminal> terminal_;
  ChatScreen screen_;
  LineEditor editor_;
  std::vector<ChatLine> early_;  // lines until the first connection stood
  asio::steady_timer ticker_;
  bool ticking_ = false;
  bool redrawPosted_ = false;
  bool connected_ = false;
  bool closed_ = false;
  int status_ = kOk;
};

}  // namespace

int RunChat(Options& options, const WireCodec& codec) {
  ChatSession::Settings settings;
  settings.host = options.host;
  settings.port = options.port;
  settings.state = options.state;
  if (!options.macGiven) settings.state.who.mac = MadeUpMac();
  settings.ipGiven = options.ipGiven;

  // They live until the process ends: the line reader may still hold them.
  auto& io = *new asio::io_context;
  if (IsInteractiveTerminal()) {
    std::string error;
    if (auto terminal = OpenTerminal(io, &error)) {
      settings.reconnect = true;
      auto& ui = *new TerminalUi(io, std::move(terminal));
      auto& session = *new ChatSession(io, codec, std::move(settings), ui);
      ui.Attach(session);
      session.Start();
      io.run();
      ui.Close();
      return ui.status();
    }
    std::cerr << "orvchat-client: " << error << "; the chat goes on in plain lines\n";
  }
  // Piped (or a terminal the screen cannot use): a script or a log reads the lines; a closed
  // connection ends the run (status 3).
  settings.reconnect = false;
  auto& ui = *new LineUi(io);
  auto& session = *new ChatSession(io, codec, std::move(settings), ui);
  session.Start();
  StartLineReader(
      io, [&session](const std::string& line) { session.OnTyped(line); },
      [&session] { session.Quit(true); });
  io.run();
  return ui.status();
}

}  // namespace orv::client
