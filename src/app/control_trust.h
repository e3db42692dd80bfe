// Who may stand behind the control socket. Another local user must not be able to put a
// socket of their own where the server's is: it would take the operator's commands and answer
// them. The server makes its socket only in a folder nobody else can change; orvchatctl talks
// only to a socket of root, of its own user or of the service's user. POSIX only
// (control_trust_posix.cpp), as the control channel is.
#pragma once

#include <filesystem>
#include <string>

namespace orv {

struct ControlFolderCheck {
  // Empty when the folder that is to hold the socket, and each folder above it, belongs to
  // root or to this process's user and nobody else may write to it, or others may write to it
  // but its sticky bit keeps them from removing or renaming what is not theirs (as in /tmp).
  // Else why not, in words, naming the folder.
  std::string problem;
  // The socket's own folder is such a sticky folder: only a file this process made itself may
  // be used there. sharedFolder names it.
  bool shared = false;
  std::string sharedFolder;
};

ControlFolderCheck CheckControlSocketFolder(const std::filesystem::path& socketPath);

// The owner of the file at path (not followed if it is a link) in words, "user nobody (uid
// 65534)", when it is not this process's effective user; empty when it is, or when nothing is
// there.
std::string ForeignOwner(const std::filesystem::path& path);

// Whether the file at path is a socket of this process's effective user (not a link to one).
bool IsOwnSocket(const std::filesystem::path& path);

// For orvchatctl: why it must not talk to the socket at path, naming the path and the owner.
// It may when the file is a socket (not a symbolic link) of root, of the user running
// orvchatctl or of the user named serviceUser (none when empty or unknown here). Empty when it
// may, or when nothing is at path.
std::string UntrustedControlSocket(const std::filesystem::path& path,
                                   const std::string& serviceUser);

// For orvchatctl, once connected through socketHandle: why it must not go on, when the program
// that answers runs as a user other than those (a socket can be swapped between the check of
// the file and the connection); empty when it may.
std::string UntrustedControlPeer(int socketHandle, const std::filesystem::path& path,
                                 const std::string& serviceUser);

}  // namespace orv
