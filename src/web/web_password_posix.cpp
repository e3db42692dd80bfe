// What the password file and its prompt need of the system: a file made for its owner
// alone, its owner, and a terminal that does not show what is typed.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "web/web_password.h"

namespace orv {

bool WriteSecretFile(const std::filesystem::path& file, const std::string& content,
                     std::string* why) {
  const std::string temporary = file.string() + ".new";
  ::unlink(temporary.c_str());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return false;
  }
  bool written =
      ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
      ::fsync(fd) == 0;
  const int error = errno;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
    if (why) *why = std::strerror(written ? errno : error);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void GiveToFolderOwner(const std::filesystem::path& file, const std::filesystem::path& folder) {
  struct stat info {};
  if (::geteuid() != 0 || ::stat(folder.c_str(), &info) != 0 || info.st_uid == 0) return;
  if (::chown(file.c_str(), info.st_uid, info.st_gid) != 0) {
    std::fprintf(stderr, "orvchatserver: cannot give %s to the owner of %s: %s\n", file.c_str(),
                 folder.c_str(), std::strerror(errno));
  }
}

namespace {

// One line of standard input without its line break; on a terminal, prompted and not shown.
std::optional<std::string> ReadLine(bool terminal, const char* prompt) {
  termios saved{};
  const bool quiet = terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (quiet) {
    std::fprintf(stderr, "%s", prompt);
    termios hidden = saved;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(std::cin, line));
  if (quiet) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!read && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> ReadNewPassword(std::string* error) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  std::optional<std::string> password = ReadLine(terminal, "New web console password: ");
  if (!password) {
    if (error) *error = "no password was given on standard input";
    return std::nullopt;
  }
  if (terminal && ReadLine(terminal, "The same again: ") != password) {
    if (error) *error = "the two passwords differ; nothing was changed";
    return std::nullopt;
  }
  return password;
}

}  // namespace orv
