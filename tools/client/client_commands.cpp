#include "client_commands.h"

#include <cctype>

namespace orv::client {

namespace {

// Splits off the first blank-separated word; rest keeps the text after one blank.
std::string_view TakeWord(std::string_view& rest) {
  while (!rest.empty() && rest.front() == ' ')
    rest.remove_prefix(1);
  const std::size_t end = rest.find(' ');
  const std::string_view word = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  return word;
}

bool IsNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

Action Send(std::string text) {
  return {Action::Kind::kSend, std::move(text), {}};
}
Action Error(std::string message) {
  return {Action::Kind::kError, {}, std::move(message)};
}

}  // namespace

std::string AnnouncePacket(const ClientState& state) {
  return BuildClientPacket(state.who, packet_type::kAnnounce,
                           StatusBody(state.statusCode, state.statusText), state.subject);
}

Action TranslateInput(std::string_view line, ClientState& state) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) return {};
  if (line.front() != '/' || line.starts_with("//")) {
    if (line.starts_with("//")) line.remove_prefix(1);
    return Send(BuildClientPacket(state.who, packet_type::kChat, line, state.subject));
  }
  std::string_view rest = line.substr(1);
  const std::string_view command = TakeWord(rest);
  if (command == "quit" || command == "exit") return {Action::Kind::kQuit, {}, {}};
  if (command == "help") return {Action::Kind::kHelp, {}, {}};
  if (command == "list") return Send(AnnouncePacket(state));
  if (command == "profile") {
    std::string target(TakeWord(rest));
    if (target.empty()) target = state.serverName;
    if (target.empty()) {
      return Error("/profile: the server's name is not known yet; give it: /profile NAME");
    }
    return Send(BuildClientPacket(state.who, packet_type::kProfileRequest, target, state.subject));
  }
  if (command == "status") {
    const std::string_view number = TakeWord(rest);
    if (!IsNumber(number)) return Error("/status: usage /status N TEXT (N a number)");
    state.statusCode = std::stoi(std::string(number));
    state.statusText = std::string(rest);
    return Send(BuildClientPacket(state.who, packet_type::kStatus,
                                  StatusBody(state.statusCode, state.statusText), state.subject));
  }
  if (command == "file") {
    const std::string_view name = TakeWord(rest);
    if (name.empty()) return Error("/file: usage /file NAME CONTENT");
    return Send(BuildClientPacket(state.who, packet_type::kBoardFile,
                                  std::string(name) + ";" + std::string(rest), state.subject));
  }
  if (command == "send") {
    const std::string_view type = TakeWord(rest);
    if (!IsNumber(type)) return Error("/send: usage /send TYPE BODY (TYPE a number)");
    return Send(BuildClientPacket(state.who, std::stoi(std::string(type)), rest, state.subject));
  }
  if (command == "raw") {
    if (rest.empty()) return Error("/raw: usage /raw TEXT (sent as it is, only substituted)");
    return Send(std::string(rest));
  }
  return Error("unknown command /" + std::string(command) + " (try /help)");
}

std::string_view HelpText() {
  return "Commands:\n"
         "  TEXT                 send TEXT as chat (type 5); start with // to send a leading /\n"
         "  /list                announce again (type 2); the server answers with the user list\n"
         "  /profile [NAME]      ask for a profile (type 14), the server's by default\n"
         "  /status N TEXT       set the status (type 4, body N:TEXT)\n"
         "  /file NAME CONTENT   post a board file (type 16)\n"
         "  /send TYPE BODY      send a packet of any type\n"
         "  /raw TEXT            send TEXT as it is (substituted, nothing added)\n"
         "  /quit                leave";
}

}  // namespace orv::client
