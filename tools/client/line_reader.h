// Lines from standard input handed to the network thread: reading blocks, so a thread of
// its own only reads a line and posts it. It is left blocked in its read when the program
// ends (the program leaves through _Exit).
#pragma once

#include <asio.hpp>
#include <functional>
#include <string>

namespace orv::client {

// onLine gets each line as typed (UTF-8, without its line break), onEnd the end of input;
// both run on io's thread.
void StartLineReader(asio::io_context& io, std::function<void(std::string)> onLine,
                     std::function<void()> onEnd);

}  // namespace orv::client
