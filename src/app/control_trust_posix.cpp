#include "app/control_trust.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <system_error>
#include <vector>

namespace orv {

namespace {

// Room for one entry of the user or group database.
std::vector<char> EntryBuffer() {
  const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  return std::vector<char>(size > 0 ? static_cast<std::size_t>(size) : 16384);
}

std::optional<passwd> UserById(uid_t uid, std::vector<char>& buffer) {
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return std::nullopt;
  return entry;
}

std::optional<uid_t> UserByName(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::vector<char> buffer = EntryBuffer();
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return std::nullopt;
  return entry.pw_uid;
}

std::string UserText(uid_t uid) {
  std::vector<char> buffer = EntryBuffer();
  const auto entry = UserById(uid, buffer);
  const std::string number = "uid " + std::to_string(uid);
  return entry ? "user " + std::string(entry->pw_name) + " (" + number + ")" : "user " + number;
}

std::string GroupText(gid_t gid) {
  std::vector<char> buffer(65536);
  group entry{};
  group* found = nullptr;
  const std::string number = "gid " + std::to_string(gid);
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return "group " + number;
  return "group " + std::string(entry.gr_name) + " (" + number + ")";
}

// Whether gid is the private group of this process's user (its primary group, listing no
// other member), as many systems give every user; such a group lets nobody else write.
bool IsOwnPrivateGroup(gid_t gid) {
  std::vector<char> userBuffer = EntryBuffer();
  const auto user = UserById(::geteuid(), userBuffer);
  if (!user || user->pw_gid != gid) return false;
  std::vector<char> buffer(65536);
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
  for (char** member = entry.gr_mem; member && *member; ++member) {
    if (std::string(*member) != user->pw_name) return false;
  }
  return true;
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Root, the user running orvchatctl and the service's user, as a phrase: "root, you or the
// service's user orvchat".
std::string TrustedText(const std::string& serviceUser, bool serviceKnown) {
  std::vector<std::string> names = {"root"};
  if (::getuid() != 0) names.push_back("you");
  if (serviceKnown) names.push_back("the service's user " + serviceUser);
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += names[i];
  }
  return text;
}

bool Trusted(uid_t uid, const std::optional<uid_t>& service) {
  return uid == 0 || uid == ::getuid() || (service && uid == *service);
}

}  // namespace

ControlFolderCheck CheckControlSocketFolder(const std::filesystem::path& socketPath) {
  ControlFolderCheck check;
  std::filesystem::path folder = socketPath.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  // Every folder on the real way to it counts: one that others may change can be renamed
  // away, with the socket's folder inside, and replaced.
  folder = std::filesystem::canonical(folder, error);
  if (error) {
    check.problem = "its folder cannot be used: " + error.message();
    return check;
  }
  const std::string risk =
      ", so another user could put a socket of their own in place of the server's and take the "
      "operator's commands; give the server a folder that only root and its own user may write "
      "to (-C DIR or --control PATH)";
  const uid_t self = ::geteuid();
  bool own = true;  // the socket's own folder, then the ones above it
  for (std::filesystem::path dir = folder;; dir = dir.parent_path()) {
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0) {
      check.problem = "cannot check the folder " + dir.string() + ": " +
                      std::error_code(errno, std::generic_category()).message();
      return check;
    }
    if (info.st_uid != 0 && info.st_uid != self) {
      check.problem = "the folder " + dir.string() + " belongs to " + UserText(info.st_uid) + risk;
      return check;
    }
    const bool everyone = (info.st_mode & S_IWOTH) != 0;
    const bool group = (info.st_mode & S_IWGRP) != 0 && !IsOwnPrivateGroup(info.st_gid);
    if (everyone || group) {
      const std::string who = everyone ? "every user" : "the members of " + GroupText(info.st_gid);
      if ((info.st_mode & S_ISVTX) == 0) {
        check.problem = who + " may write to the folder " + dir.string() + " (mode " +
                        ModeText(info.st_mode) + ")" + risk + ", or chmod " +
                        (everyone ? "o-w " : "g-w ") + dir.string();
        return check;
      }
      if (own) {
        check.shared = true;
        check.sharedFolder = dir.string() + ", which " + who + " may write to";
      }
    }
    own = false;
    if (dir == dir.parent_path()) break;
  }
  return check;
}

std::string ForeignOwner(const std::filesystem::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || info.st_uid == ::geteuid()) return {};
  return UserText(info.st_uid);
}

bool IsOwnSocket(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == ::geteuid();
}

std::string UntrustedControlSocket(const std::filesystem::path& path,
                                   const std::string& serviceUser) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return {};
  if (S_ISLNK(info.st_mode)) {
    return path.string() +
           " is a symbolic link: whoever made it chose where it leads, so orvchatctl talks only "
           "to the socket itself (give its own path)";
  }
  if (!S_ISSOCK(info.st_mode)) return {};  // connecting says that nothing answers there
  const std::optional<uid_t> service = UserByName(serviceUser);
  if (Trusted(info.st_uid, service)) return {};
  return path.string() + " belongs to " + UserText(info.st_uid) + ", not to " +
         TrustedText(serviceUser, service.has_value()) +
         ": it may be another user's stand-in for the server, so orvchatctl does not use it";
}

std::string UntrustedControlPeer(int socketHandle, const std::filesystem::path& path,
                                 const std::string& serviceUser) {
  uid_t peer = 0;
#if defined(SO_PEERCRED)
  ucred credentials{};
  socklen_t length = sizeof credentials;
  const bool known =
      ::getsockopt(socketHandle, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
      length == sizeof credentials;
  peer = credentials.uid;
#else
  gid_t peerGroup = 0;
  const bool known = ::getpeereid(socketHandle, &peer, &peerGroup) == 0;
#endif
  if (!known) {
    return "cannot tell which user answers on " + path.string() +
           ", so orvchatctl does not use it: " +
           std::error_code(errno, std::generic_category()).message();
  }
  const std::optional<uid_t> service = UserByName(serviceUser);
  if (Trusted(peer, service)) return {};
  return "the program that answers on " + path.string() + " runs as " + UserText(peer) +
         ", not as " + TrustedText(serviceUser, service.has_value()) +
         ": it may be another user's stand-in for the server, so orvchatctl does not use it";
}

}  // namespace orv
