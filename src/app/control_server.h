// The server's end of the control channel: a local socket (a Unix-domain socket, mode
// 0660: whoever may write it is an operator) on a thread of its own. Each connection
// brings one request line; it is carried out through the engine's commands and answered
// (see control_protocol.h), or, to follow, answered with the engine's events as they come
// until the follower goes, falls behind or the channel closes. Where the system has no local
// sockets, Start says so and the server runs without the channel.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/engine_commands.h"

namespace orv {

class ControlServer {
 public:
  // requestStop is called (on the channel's thread) once the answer to a stop command has
  // been written.
  ControlServer(EngineCommands& engine, std::function<void()> requestStop);
  // Stops as Stop does.
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Opens the socket at path and starts answering. false, with error set to a sentence,
  // when it cannot: another server answers there, something else is in the way, the path
  // is too long, or the system has no local sockets. A socket file nobody answers on (left
  // by a server that ended without cleaning up) is replaced. Nor does it open one where
  // another local user could put a socket in its place (control_trust.h): in a folder that
  // others may change, or, in a sticky folder like /tmp, over a file another user made.
  bool Start(const std::filesystem::path& path, std::string* error);

  // Closes the socket, removes its file, drops the connections and ends the thread. A
  // command already handed to the engine may still run; its answer goes nowhere. Followers
  // get what waits for them and a last line first (within about a second).
  void Stop();

  const std::filesystem::path& Path() const { return path_; }

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
  EngineCommands& engine_;
  std::function<void()> requestStop_;
  std::filesystem::path path_;
};

}  // namespace orv
