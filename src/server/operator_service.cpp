#include "server/operator_service.h"

#include <optional>
#include <type_traits>
#include <utility>

#include "console/escape.h"
#include "moderation/alphabet_settings.h"
#include "moderation/settings_check.h"
#include "moderation/settings_loader.h"
#include "moderation/settings_table.h"
#include "protocol/wire_constants.h"
#include "server/policy.h"

namespace orv {

namespace {

std::string AddressText(const std::string& ip, std::int32_t port) {
  return (ip.empty() ? std::string("0.0.0.0") : ip) + ":" + std::to_string(port);
}

// What an entry of the block list looks like: the list does not say what its keys are.
StoredBlockKind LooksLike(const std::string& key) {
  if (IsIpv4Address(key)) return StoredBlockKind::kAddress;
  // Twelve hex digits, with or without separators between the pairs.
  std::size_t hex = 0;
  bool other = false;
  for (const char c : key) {
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (digit) {
      ++hex;
    } else if (c != ':' && c != '-') {
      other = true;
    }
  }
  return !other && hex == 12 ? StoredBlockKind::kMac : StoredBlockKind::kName;
}

}  // namespace

const char* CommandName(const OperatorCommand& command) {
  return std::visit(
      [](const auto& c) -> const char* {
        using C = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<C, command::Send>) return "send";
        if constexpr (std::is_same_v<C, command::Refresh>) return "refresh";
        if constexpr (std::is_same_v<C, command::Reload>) return "reload";
        if constexpr (std::is_same_v<C, command::Kick>) return "kick";
        if constexpr (std::is_same_v<C, command::Block>) return "block";
        if constexpr (std::is_same_v<C, command::Unblock>) return "unblock";
        if constexpr (std::is_same_v<C, command::SetAfs>) return "afs";
        if constexpr (std::is_same_v<C, command::Users>) return "users";
        if constexpr (std::is_same_v<C, command::Status>) return "status";
        if constexpr (std::is_same_v<C, command::Blocks>) return "blocks";
        if constexpr (std::is_same_v<C, command::UnblockEntry>) return "unblock-entry";
        if constexpr (std::is_same_v<C, command::Stop>) return "stop";
        if constexpr (std::is_same_v<C, command::Note>) return "note";
        return "?";
      },
      command);
}

std::string Describe(const OperatorCommand& command) {
  std::string text = CommandName(command);
  std::visit(
      [&text](const auto& c) {
        using C = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<C, command::Send> || std::is_same_v<C, command::Note>) {
          text += " \"" + ClientText(c.text) + "\"";
        } else if constexpr (std::is_same_v<C, command::UnblockEntry>) {
          text += " " + ClientText(c.key);
        } else if constexpr (std::is_same_v<C, command::Block>) {
          text +=
              " " + ClientText(c.mac) + " by " +
              (c.by == BlockState::kName ? std::string("name") : std::string(BlockStateText(c.by)));
        } else if constexpr (std::is_same_v<C, command::SetAfs>) {
          text += " " + ClientText(c.mac) + " " + std::to_string(c.value);
        } else if constexpr (std::is_same_v<C, command::Kick> ||
                             std::is_same_v<C, command::Unblock>) {
          text += " " + ClientText(c.mac);
        }
      },
      command);
  return text;
}

OperatorService::OperatorService(EngineState& state, EngineCore& core, Housekeeping& housekeeping)
    : s_(state), core_(core), housekeeping_(housekeeping) {}

Outcome OperatorService::Execute(const OperatorCommand& command) {
  core_.AssertEngineThread();
  const bool query = std::holds_alternative<command::Users>(command) ||
                     std::holds_alternative<command::Status>(command) ||
                     std::holds_alternative<command::Blocks>(command);
  if (s_.shutDown && !query) return Refused("The server is shutting down.");
  return std::visit([this](const auto& c) { return Handle(c); }, command);
}

void OperatorService::Say(Outcome& outcome, const std::string& line) {
  core_.EventLine(line);
  outcome.lines.push_back(line);
}

Outcome OperatorService::Refused(std::string reason) {
  Outcome outcome;
  outcome.done = false;
  outcome.lines.push_back(std::move(reason));
  return outcome;
}

const UserRecord* OperatorService::Find(const std::string& mac, Outcome& outcome) {
  const UserRecord* user = mac.empty() ? nullptr : s_.users.Find(mac);
  if (user == nullptr) {
    outcome = Refused("No user with MAC " + ClientText(mac) + " is online.");
    outcome.noSuchUser = true;
  }
  return user;
}

Outcome OperatorService::Handle(const command::Send& send) {
  Outcome outcome;
  auto isSpace = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::string_view text = send.text;
  while (!text.empty() && isSpace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && isSpace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  // A message of one character is not sent (nor an empty one).
  if (text.size() < 2) return outcome;
  // The operator's own words belong in the record of what happened, like everything else.
  Say(outcome, "Operator message: " + EscapeControlCharacters(text));
  core_.BroadcastServerPacket(text, packet_type::kServerText, kOwnSubject);
  return outcome;
}

Outcome OperatorService::Handle(const command::Refresh&) {
  Outcome outcome;
  core_.LookAtMachineAddresses();
  core_.ReportUserCount();
  outcome.lines.push_back(core_.FormatCount(StringId::kUsersConnected, s_.users.GetCount()));
  core_.RefreshUserList();
  return outcome;
}

Outcome OperatorService::Handle(const command::Kick& kick) {
  Outcome outcome;
  if (const UserRecord* user = Find(kick.mac, outcome)) Kick(*user, outcome);
  return outcome;
}

Outcome OperatorService::Handle(const command::Block& block) {
  Outcome outcome;
  const UserRecord* user = Find(block.mac, outcome);
  if (user == nullptr) return outcome;
  if (block.by == BlockState::kNone) return Refused("A block is by IP, MAC, name or address.");
  if (user->blockState != BlockState::kNone) {
    return Refused("The user with MAC " + ClientText(user->mac) + " is blocked already.");
  }
  ChangeBlock(*user, block.by, true, outcome);
  return outcome;
}

Outcome OperatorService::Handle(const command::Unblock& unblock) {
  Outcome outcome;
  const UserRecord* user = Find(unblock.mac, outcome);
  if (user == nullptr) return outcome;
  if (user->blockState == BlockState::kNone) {
    return Refused("The user with MAC " + ClientText(user->mac) + " is not blocked.");
  }
  ChangeBlock(*user, user->blockState, false, outcome);
  return outcome;
}

Outcome OperatorService::Handle(const command::SetAfs& setAfs) {
  Outcome outcome;
  const UserRecord* user = Find(setAfs.mac, outcome);
  if (user == nullptr) return outcome;
  if (setAfs.value < policy::kAfsLowest || setAfs.value > policy::kAfsHighest) {
    return Refused("An AFS value runs from " + std::to_string(policy::kAfsLowest) + " to " +
                   std::to_string(policy::kAfsHighest) + ".");
  }
  SetAfs(*user, setAfs.value, outcome);
  return outcome;
}

Outcome OperatorService::Handle(const command::Note& note) {
  Outcome outcome;
  Say(outcome, EscapeControlCharacters(note.text));
  return outcome;
}

Outcome OperatorService::Handle(const command::Users&) {
  Outcome outcome;
  outcome.users = core_.Rows();
  return outcome;
}

Outcome OperatorService::Handle(const command::Status&) {
  Outcome outcome;
  outcome.status = core_.Status();
  return outcome;
}

Outcome OperatorService::Handle(const command::Blocks&) {
  Outcome outcome;
  for (std::string& key : s_.blockList.Entries()) {
    StoredBlock block;
    block.looksLike = LooksLike(key);
    block.refusing = Refusing({key}, {});
    block.key = std::move(key);
    outcome.blocks.push_back(std::move(block));
  }
  return outcome;
}

Outcome OperatorService::Handle(const command::UnblockEntry& entry) {
  Outcome outcome;
  if (!s_.blockList.IsListed(entry.key)) {
    return Refused("The block list holds no block for " + ClientText(entry.key) + ".");
  }
  const std::vector<std::string> refusing = Refusing({entry.key}, {});
  Say(outcome,
      "Block list entry lifted: " + ClientText(entry.key) +
          (refusing.empty() ? std::string()
                            : " (it refused " + std::to_string(refusing.size()) +
                                  (refusing.size() == 1 ? " user" : " users") + " online)"));
  if (!s_.blockList.ClearBlockEntry(entry.key)) {
    Say(outcome, "The block list " + s_.blockList.Path().string() + " could not be written");
    outcome.done = false;
    return outcome;
  }
  // Users online refused by that entry alone are free from their next packet on.
  for (int i = 0; i < s_.users.GetCount(); ++i) {
    const UserRecord& u = *s_.users.At(i);
    if (u.blockState == BlockState::kNone) continue;
    if (!BlockList::WouldRefuse(entry.key, u.reportedIp, u.name, u.mac, u.peerAddress)) continue;
    if (s_.blockList.CheckBlockList(u.reportedIp, u.name, u.mac, u.peerAddress) !=
        BlockState::kNone) {
      continue;
    }
    s_.users.SetBlockState(u.mac, BlockState::kNone);
    core_.PublishUser(u, false);
  }
  core_.RefreshUserList();
  return outcome;
}

Outcome OperatorService::Handle(const command::Stop&) {
  if (!s_.env.requestStop) return Refused("Stopping is not offered here.");
  Outcome outcome;
  outcome.lines.push_back("The server is stopping.");
  s_.env.requestStop();
  return outcome;
}

Outcome OperatorService::Reload() {
  core_.AssertEngineThread();
  if (s_.shutDown) return Refused("The server is shutting down.");
  Outcome outcome;
  const std::filesystem::path file = s_.env.workDir / kSettingsFileName;
  std::vector<SettingsProblem> problems = CheckSettingsFile(file);
  std::string alphabetError;
  const std::optional<WireCodec> codec = CodecFromSettings(file, &alphabetError);
  if (!codec) problems.push_back({true, alphabetError});
  int errors = 0;
  for (const SettingsProblem& problem : problems) {
    if (!problem.error) continue;
    ++errors;
    Say(outcome, problem.text);
  }
  if (errors > 0) {
    Say(outcome, "Settings not reloaded: " + std::to_string(errors) +
                     (errors == 1 ? " problem" : " problems") + " in " + file.string() +
                     "; the server goes on with the settings it has");
    outcome.done = false;
    return outcome;
  }

  Say(outcome, "Reloading the settings from " + file.string());
  Settings fresh;
  fresh.versionText = s_.settings.versionText;
  SettingsLoadContext context{
      s_.env.workDir, fresh, s_.language, s_.log, s_.console,
      [this](const std::string& title) { s_.events.Publish(event::Title{title}); },
      // The address stays as it is, and with it the MAC.
      [](const std::string& ip) { return ip; }};
  LoadSettings(context);
  const std::string newAddress = AddressText(fresh.ServerIP, fresh.ServerPort);
  const std::string oldAddress = AddressText(s_.settings.ServerIP, s_.settings.ServerPort);
  // What is taken at the start stays as the server runs with it (the address is said
  // below, in one line with the port).
  std::vector<std::string> waiting;
  for (const SettingRow& row : SettingRows()) {
    if (row.taken != SettingTaken::kAtStart) continue;
    const std::string now = ValueText(row, s_.settings);
    if (row.read != SettingRead::kAddress && row.read != SettingRead::kPort &&
        !std::holds_alternative<std::monostate>(row.field) && ValueText(row, fresh) != now) {
      waiting.push_back(std::string("The settings now say ") + row.key + " \"" +
                        EscapeControlCharacters(ValueText(row, fresh)) + "\"; the server keeps \"" +
                        EscapeControlCharacters(now) + "\" until it is restarted");
    }
    CopySetting(row, s_.settings, fresh);
  }
  fresh.serverMac = s_.settings.serverMac;
  const bool idleTimeoutStarts = fresh.IdleTimeout > 0 && s_.settings.IdleTimeout <= 0;
  s_.settings = fresh;
  if (idleTimeoutStarts && s_.env.scheduler != nullptr) {
    // Nobody was timed while no timeout was set: every connection starts afresh now.
    const auto now = s_.env.scheduler->SteadyNow();
    for (const auto& connection : s_.connections.InOrder()) {
      if (ConnectionList::Entry* entry = s_.connections.FindEntry(connection->Key())) {
        entry->lastInput = now;
      }
    }
  }

  s_.board.SetLimits(s_.settings.BoardQuota, s_.settings.BoardFileLimit);
  if (s_.env.network != nullptr) s_.env.network->SetInputRate(s_.settings.MaxInputRate);
  s_.log.SetDayLimit(s_.settings.LogDayLimit);
  core_.LookAtMachineAddresses();
  core_.AnnounceTexts();
  s_.events.Publish(event::Tooltip{core_.TooltipText()});
  housekeeping_.PruneLogs();
  housekeeping_.Start();
  if (newAddress != oldAddress) {
    Say(outcome, "The settings now say " + newAddress + "; the server keeps listening on " +
                     oldAddress + " until it is restarted");
  }
  for (const std::string& line : waiting)
    Say(outcome, line);
  if (codec->PlainAlphabet() != s_.env.codec.PlainAlphabet() ||
      codec->WireAlphabet() != s_.env.codec.WireAlphabet()) {
    Say(outcome,
        "The alphabets in the settings changed; the server keeps those it has until it is "
        "restarted");
  }
  Say(outcome, "Settings reloaded");
  return outcome;
}

}  // namespace orv
