// What both front-ends hand the engine: the options of the command line, the alphabets
// and the view that follows it, plus what the platform offers for giving memory back after
// a burst.
#pragma once

#include <memory>

#include "app/options.h"
#include "net/engine_host.h"
#include "protocol/wire_codec.h"

namespace orv {

EngineOptions MakeEngineOptions(const AppOptions& options, WireCodec codec,
                                std::shared_ptr<EventSubscriber> view);

}  // namespace orv
