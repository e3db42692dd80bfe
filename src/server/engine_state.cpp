#include "server/engine_state.h"

#include <utility>

#include "moderation/mac_lookup.h"
#include "moderation/settings_loader.h"

namespace orv {

EngineState::EngineState(ServerEnvironment environment)
    : env(std::move(environment)),
      log(env.workDir, *env.clock),
      console(settings, log, *env.clock, consoleSink),
      blockList(env.workDir),
      afsList(env.workDir),
      settingsFile(env.workDir / kSettingsFileName),
      commandFile(env.workDir / kCommandFileName),
      board(env.workDir) {
  if (!env.lookupMac) env.lookupMac = LookupMacAddress;
  if (!env.machineAddresses) env.machineAddresses = MachineAddresses;
}

}  // namespace orv
