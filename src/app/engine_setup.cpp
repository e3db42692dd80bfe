#include "app/engine_setup.h"

#include <utility>

#include "app/platform.h"

namespace orv {

EngineOptions MakeEngineOptions(const AppOptions& options, WireCodec codec,
                                std::shared_ptr<EventSubscriber> view) {
  EngineOptions engineOptions;
  engineOptions.workDir = options.workDir;
  engineOptions.codec = std::move(codec);
  engineOptions.writeLimitBytes = options.writeLimitBytes;
  if (view) engineOptions.subscribers.push_back(std::move(view));
  engineOptions.releaseFreeMemory = ReleaseFreeHeapMemory;
  // main() holds the stop and reload signals back from its first line on.
  engineOptions.signalsArmed = ReleaseStopSignals;
  engineOptions.signalsDisarmed = IgnoreStopSignals;
  return engineOptions;
}

}  // namespace orv
