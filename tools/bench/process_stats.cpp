#include "process_stats.h"

#include <sys/resource.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orv::bench {

std::optional<ProcessSample> SampleProcess(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  std::ifstream statFile(base + "/stat");
  std::string stat;
  if (!std::getline(statFile, stat)) return std::nullopt;
  // The command name may hold blanks and parentheses; the fields start after the last ")".
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 2));
  std::vector<std::string> values;
  for (std::string field; fields >> field && values.size() < 13;)
    values.push_back(field);
  if (values.size() < 13) return std::nullopt;
  ProcessSample sample;
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  // utime and stime are fields 14 and 15 of the line; field 3 is values[0].
  sample.cpuSeconds = (std::stod(values[11]) + std::stod(values[12])) / ticks;

  std::ifstream status(base + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) sample.rssKb = std::stol(line.substr(6));
    if (line.rfind("VmHWM:", 0) == 0) sample.peakRssKb = std::stol(line.substr(6));
  }
  return sample;
}

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace orv::bench
