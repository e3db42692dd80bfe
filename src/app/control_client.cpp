#include "app/control_client.h"

#include "app/control_sockets.h"

#if defined(ORV_CONTROL_SOCKETS)
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#endif

#include <exception>
#include <system_error>

namespace orv {

#if defined(ORV_CONTROL_SOCKETS)

ControlReply AskServer(const std::filesystem::path& socketPath, const std::string& requestLine,
                       std::chrono::milliseconds limit) {
  using Local = asio::local::stream_protocol;
  ControlReply reply;
  auto fail = [&reply](int status, std::string why) {
    reply.status = status;
    reply.why = std::move(why);
    return reply;
  };
  const std::string path = socketPath.string();

  asio::io_context io;
  Local::socket socket(io);
  std::error_code error;
  try {
    socket.connect(Local::endpoint(path), error);
  } catch (const std::exception& failure) {
    return fail(kControlNoServer, "cannot use the control socket " + path + ": " + failure.what());
  }
  // Asio reports the system's own codes, which compare by value with the portable ones.
  auto is = [&error](std::errc code) { return error && error.value() == static_cast<int>(code); };
  if (is(std::errc::no_such_file_or_directory)) {
    reply.nobodyThere = true;
    return fail(kControlNoServer, "no server is running there: " + path + " does not exist");
  }
  if (is(std::errc::connection_refused)) {
    reply.nobodyThere = true;
    return fail(kControlNoServer, "no server is running there: nothing answers on " + path);
  }
  if (is(std::errc::permission_denied)) {
    return fail(kControlNoServer, "not allowed to use " + path +
                                      " (only its owner and its group may: ask to join the "
                                      "group, or use sudo)");
  }
  if (error)
    return fail(kControlNoServer, "cannot reach the server at " + path + ": " + error.message());

  const std::string request = requestLine + "\n";
  std::string received;
  bool finished = false;
  std::error_code readError;
  asio::steady_timer deadline(io);
  deadline.expires_after(limit);
  deadline.async_wait([&](const std::error_code& timerError) {
    if (timerError || finished) return;
    std::error_code ignored;
    socket.close(ignored);
  });
  asio::async_write(socket, asio::buffer(request),
                    [&](const std::error_code& writeError, std::size_t) {
                      if (writeError) {
                        readError = writeError;
                        finished = true;
                        deadline.cancel();
                        return;
                      }
                      asio::async_read(socket, asio::dynamic_buffer(received),
                                       [&](const std::error_code& endError, std::size_t) {
                                         readError = endError;
                                         finished = true;
                                         deadline.cancel();
                                       });
                    });
  io.run();

  if (auto answer = DecodeControlAnswer(received)) {
    reply.answer = std::move(*answer);
    return reply;
  }
  if (!finished || readError == asio::error::operation_aborted) {
    return fail(kControlNoAnswer, "the server at " + path + " gave no answer within " +
                                      std::to_string(limit.count() / 1000) + " s");
  }
  return fail(kControlNoAnswer,
              "the server at " + path + " closed the connection without a whole answer");
}

#else

ControlReply AskServer(const std::filesystem::path& socketPath, const std::string&,
                       std::chrono::milliseconds) {
  ControlReply reply;
  reply.status = kControlNoServer;
  reply.why = "this system offers no local sockets to reach " + socketPath.string();
  return reply;
}

#endif

}  // namespace orv
