// The operator's commands as values, and what each came to. Every front-end (the windows,
// the headless console, the control socket, the web console) turns what the operator did
// into one OperatorCommand and hands it to the engine, which answers with one Outcome; the
// engine's table of handlers is the only place a command is carried out. Users are named by
// their MAC, never by a row, so a command cannot land on somebody who moved into the row.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "moderation/block_state.h"
#include "server/operator_values.h"

namespace orv {

namespace command {

// A server message to everybody (code-page text; trimmed, and not sent under 2 bytes).
struct Send {
  std::string text;
  bool operator==(const Send&) const = default;
};
// The user count on the console and a rebuilt user list.
struct Refresh {
  bool operator==(const Refresh&) const = default;
};
// The settings read again (as SIGHUP does).
struct Reload {
  bool operator==(const Reload&) const = default;
};
// The user with the MAC gets the kick message and is disconnected.
struct Kick {
  std::string mac;
  bool operator==(const Kick&) const = default;
};
// The user with the MAC blocked by: kIp, kMac, kName or kAddress.
struct Block {
  std::string mac;
  BlockState by = BlockState::kIp;
  bool operator==(const Block&) const = default;
};
// Whatever block the user with the MAC has, lifted.
struct Unblock {
  std::string mac;
  bool operator==(const Unblock&) const = default;
};
// The user's own AFS value, 0 to 100.
struct SetAfs {
  std::string mac;
  std::int32_t value = 0;
  bool operator==(const SetAfs&) const = default;
};
// The users online (Outcome::users).
struct Users {
  bool operator==(const Users&) const = default;
};
// The server at a glance (Outcome::status).
struct Status {
  bool operator==(const Status&) const = default;
};
// The entries of the block list, online or not (Outcome::blocks).
struct Blocks {
  bool operator==(const Blocks&) const = default;
};
// A stored block lifted by its key, whoever it blocks and whether they are online.
struct UnblockEntry {
  std::string key;
  bool operator==(const UnblockEntry&) const = default;
};
// The close message to everybody, then the server stops.
struct Stop {
  bool operator==(const Stop&) const = default;
};
// A line on the console and in the log from a front-end that acts for somebody: the web
// console names each action and the admin's address. Control characters are shown escaped.
struct Note {
  std::string text;
  bool operator==(const Note&) const = default;
};

}  // namespace command

using OperatorCommand =
    std::variant<command::Send, command::Refresh, command::Reload, command::Kick, command::Block,
                 command::Unblock, command::SetAfs, command::Users, command::Status,
                 command::Blocks, command::UnblockEntry, command::Stop, command::Note>;

// What an entry of the block list looks like (the list does not say what its keys are).
enum class StoredBlockKind { kAddress, kMac, kName };

// One entry of the block list that blocks.
struct StoredBlock {
  std::string key;  // as the file holds it
  StoredBlockKind looksLike = StoredBlockKind::kName;
  // Users online it refuses now, as "name (address)".
  std::vector<std::string> refusing;
  bool operator==(const StoredBlock&) const = default;
};

struct Outcome {
  bool done = true;         // false: refused, and nothing changed
  bool noSuchUser = false;  // refused because no user online has the MAC
  // What the command said (its console lines), or why it was refused; code-page texts.
  std::vector<std::string> lines;
  std::vector<UserRow> users;       // command::Users
  ServerStatus status;              // command::Status
  std::vector<StoredBlock> blocks;  // command::Blocks
};

// "status", "kick", ...: the command's name, for log lines and messages.
const char* CommandName(const OperatorCommand& command);
// The command in a few words, its values included ("block AA01 by MAC", "afs AA01 20"), for
// log lines and test messages; client texts escaped.
std::string Describe(const OperatorCommand& command);

}  // namespace orv
