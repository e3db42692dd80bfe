#include "app/options.h"

#include <charconv>
#include <string_view>

#include "console/version.h"

namespace orv {

namespace {

constexpr int kUsageError = 2;

bool ParseByteCount(std::string_view text, std::size_t* value) {
  if (text.empty()) return false;
  std::size_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  *value = parsed;
  return true;
}

}  // namespace

std::string UsageText() {
  return "Usage: orvchatserver [OPTIONS]\n"
         "Runs the chat server in its working folder (the one holding orvchatserver.cfg).\n"
         "\n"
         "  -C, --workdir DIR      working folder (default: " +
         std::string(DefaultWorkDirName()) +
         ")\n"
         "      --headless         no window: console lines on stdout, commands on stdin\n"
         "                         (also chosen when there is no display)\n"
         "      --write-limit BYTES\n"
         "                         output queued for one client before it is disconnected\n"
         "                         (default " +
         std::to_string(kDefaultWriteLimitBytes) + ", at least " +
         std::to_string(kMinWriteLimitBytes) +
         ")\n"
         "      --version          print the version and exit\n"
         "      --help             print this help and exit\n";
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  ParsedOptions result;
  auto refuse = [&result](const std::string& why) {
    result.err = "orvchatserver: " + why + "\n" + UsageText();
    result.exitCode = kUsageError;
    return result;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // "--name=value" and "--name value" both work for options that take a value.
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      const auto eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
      }
    }
    auto takeValue = [&](std::string* value) {
      if (inlineValue) {
        *value = *inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      *value = args[++i];
      return true;
    };
    const bool takesValue = name == "-C" || name == "--workdir" || name == "--write-limit";
    if (inlineValue && !takesValue) return refuse("option " + name + " takes no value");

    if (name == "--help" || name == "-h") {
      result.out = UsageText();
      result.exitCode = 0;
      return result;
    }
    if (name == "--version") {
      result.out = "orvchatserver " + ProgramVersion() + "\n";
      result.exitCode = 0;
      return result;
    }
    if (name == "--headless") {
      result.options.headless = true;
    } else if (name == "-C" || name == "--workdir") {
      std::string dir;
      if (!takeValue(&dir)) return refuse("option " + name + " needs a folder");
      if (dir.empty()) return refuse("option " + name + " needs a folder, not an empty text");
      result.options.workDir = PathFromUtf8(dir);
    } else if (name == "--write-limit") {
      std::string text;
      if (!takeValue(&text)) return refuse("option --write-limit needs a number of bytes");
      std::size_t bytes = 0;
      if (!ParseByteCount(text, &bytes) || bytes < kMinWriteLimitBytes) {
        return refuse("--write-limit must be a whole number of bytes, at least " +
                      std::to_string(kMinWriteLimitBytes) + ", not '" + text + "'");
      }
      result.options.writeLimitBytes = bytes;
    } else if (!arg.empty() && arg[0] == '-') {
      return refuse("unknown option " + arg);
    } else {
      return refuse("unexpected argument '" + arg + "'");
    }
  }
  return result;
}

}  // namespace orv
