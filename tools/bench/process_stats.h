// CPU time and memory of a process, read from /proc, and the CPU time of this process and
// of the calling thread (Linux).
#pragma once

#include <sys/types.h>
#include <optional>

namespace orv::bench {

struct ProcessSample {
  double cpuSeconds = 0;  // user + system
  long rssKb = 0;         // VmRSS
  long peakRssKb = 0;     // VmHWM
};

// Nothing when the process does not exist (or /proc cannot be read).
std::optional<ProcessSample> SampleProcess(pid_t pid);

// User + system CPU seconds of this whole process, and of the calling thread.
double OwnCpuSeconds();
double ThreadCpuSeconds();

}  // namespace orv::bench
