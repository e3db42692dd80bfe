#include "line_reader.h"

#include <iostream>
#include <thread>

namespace orv::client {

void StartLineReader(asio::io_context& io, std::function<void(std::string)> onLine,
                     std::function<void()> onEnd) {
  std::thread([&io, onLine = std::move(onLine), onEnd = std::move(onEnd)] {
    std::string line;
    while (std::getline(std::cin, line)) {
      asio::post(io, [onLine, text = line] { onLine(text); });
    }
    asio::post(io, onEnd);
  }).detach();
}

}  // namespace orv::client
