// Fakes shared by the console tests: a clock that stands still and a console view that
// records what it is asked to show.
#pragma once

#include <string>
#include <vector>

#include "console/clock.h"
#include "console/console_output.h"
#include "support/fixed_clock.h"
#include "support/recording_sink.h"
#include "support/temp_folder.h"

namespace orv::testing {}  // namespace orv::testing
