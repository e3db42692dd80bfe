// The operator's commands carried out: one handler per command, the only place a command is
// spelt out in the engine. Every front-end hands its commands here (through the engine host)
// and gets the outcome back.
#pragma once

#include <string>
#include <vector>

#include "server/engine_core.h"
#include "server/engine_state.h"
#include "server/housekeeping.h"
#include "server/operator_command.h"

namespace orv {

class OperatorService {
 public:
  OperatorService(EngineState& state, EngineCore& core, Housekeeping& housekeeping);

  Outcome Execute(const OperatorCommand& command);

  // The settings read again (SIGHUP, the reload command): what can change while the server
  // runs is taken; a file with errors changes nothing.
  Outcome Reload();

 private:
  // One handler per command.
  Outcome Handle(const command::Send& send);
  Outcome Handle(const command::Refresh&);
  Outcome Handle(const command::Reload&) { return Reload(); }
  Outcome Handle(const command::Kick& kick);
  Outcome Handle(const command::Block& block);
  Outcome Handle(const command::Unblock& unblock);
  Outcome Handle(const command::SetAfs& setAfs);
  Outcome Handle(const command::Users&);
  Outcome Handle(const command::Status&);
  Outcome Handle(const command::Blocks&);
  Outcome Handle(const command::UnblockEntry& entry);
  Outcome Handle(const command::Stop&);
  Outcome Handle(const command::Note& note);

  // Prints line as an event and adds it to what the command says.
  void Say(Outcome& outcome, const std::string& line);
  // The user with the MAC, or null with the refusal in outcome.
  const UserRecord* Find(const std::string& mac, Outcome& outcome);
  static Outcome Refused(std::string reason);

  // What the commands on one user do (moderation_commands.cpp); each prints its lines into
  // the outcome.
  void Kick(const UserRecord& user, Outcome& outcome);
  void ChangeBlock(const UserRecord& user, BlockState kind, bool block, Outcome& outcome);
  void SetAfs(const UserRecord& user, std::int32_t value, Outcome& outcome);
  // The block-list keys a block of user by kind writes; note says why the reported IP is
  // left out of a block by IP when it is.
  std::vector<std::string> BlockKeys(const UserRecord& user, BlockState kind, std::string* note);
  // The other users online whom entries under keys refuse, as "name (address)".
  std::vector<std::string> Refusing(const std::vector<std::string>& keys,
                                    const std::string& exceptMac) const;

  EngineState& s_;
  EngineCore& core_;
  Housekeeping& housekeeping_;
};

}  // namespace orv
