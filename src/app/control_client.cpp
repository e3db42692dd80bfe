#include "app/control_client.h"

#include "app/control_sockets.h"

#if defined(ORV_CONTROL_SOCKETS)
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#endif

#include <array>
#include <exception>
#include <system_error>

#include "console/escape.h"

#if defined(ORV_CONTROL_SOCKETS)
#include "app/control_trust.h"
#endif

namespace orv {

std::string ShownText(std::string_view text) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
      out += EscapeControlCharacters(text.substr(at, 1));
      ++at;
      continue;
    }
    // A UTF-8 sequence: its length and the least code point it may carry (anything shorter
    // would be an overlong form) from its first byte.
    std::size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07, least = 0x10000;
    }
    bool valid = length > 0 && at + length <= text.size();
    for (std::size_t i = 1; valid && i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    valid = valid && code >= least && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (!valid) {
      out += "\\x";
      out += kHex[lead >> 4];
      out += kHex[lead & 0x0F];
      ++at;
      continue;
    }
    if (code < 0xA0) {  // a C1 control
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 0x0F];
    } else {
      out += text.substr(at, length);
    }
    at += length;
  }
  return out;
}

#if defined(ORV_CONTROL_SOCKETS)

namespace {

using Local = asio::local::stream_protocol;

// Connects socket to the server's control socket at socketPath, if it is to be trusted;
// false with reply's status and why set when it is not, or when nobody answers.
bool ConnectToServer(const std::filesystem::path& socketPath, const std::string& serviceUser,
                     Local::socket& socket, ControlReply& reply) {
  auto fail = [&reply](int status, std::string why) {
    reply.status = status;
    reply.why = std::move(why);
    return false;
  };
  const std::string path = socketPath.string();
  // Another user's socket would take the operator's command and answer as it likes.
  if (std::string why = UntrustedControlSocket(socketPath, serviceUser); !why.empty())
    return fail(kControlNoServer, std::move(why));

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
  // The file may have been swapped since it was checked: who answers counts.
  if (std::string why = UntrustedControlPeer(socket.native_handle(), socketPath, serviceUser);
      !why.empty()) {
    return fail(kControlNoServer, std::move(why));
  }
  return true;
}

}  // namespace

ControlReply AskServer(const std::filesystem::path& socketPath, const std::string& requestLine,
                       std::chrono::milliseconds limit, const std::string& serviceUser) {
  ControlReply reply;
  auto fail = [&reply](int status, std::string why) {
    reply.status = status;
    reply.why = std::move(why);
    return reply;
  };
  const std::string path = socketPath.string();
  asio::io_context io;
  Local::socket socket(io);
  if (!ConnectToServer(socketPath, serviceUser, socket, reply)) return reply;

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

ControlReply FollowServer(const std::filesystem::path& socketPath, const std::string& requestLine,
                          const std::function<void(const ControlAnswer::Line&)>& show,
                          const std::string& serviceUser) {
  ControlReply reply;
  asio::io_context io;
  Local::socket socket(io);
  if (!ConnectToServer(socketPath, serviceUser, socket, reply)) return reply;
  const std::string path = socketPath.string();
  std::error_code error;
  asio::write(socket, asio::buffer(requestLine + "\n"), error);
  // A stream has no time limit: it lasts until the server ends it, or until interrupted.
  std::string received;
  std::array<char, 4096> buffer;
  while (!error) {
    const std::size_t count = socket.read_some(asio::buffer(buffer), error);
    received.append(buffer.data(), count);
    std::size_t start = 0;
    for (std::size_t end; (end = received.find('\n', start)) != std::string::npos;
         start = end + 1) {
      const auto line = DecodeControlLine(std::string_view(received).substr(start, end - start));
      if (!line) {
        reply.status = kControlNoAnswer;
        reply.why = "the server at " + path + " sent something that is no answer";
        return reply;
      }
      if (line->end) {
        reply.answer.status = line->status;
        return reply;
      }
      show(line->line);
    }
    received.erase(0, start);
  }
  reply.status = kControlNoAnswer;
  reply.why = "the server at " + path + " closed the connection before the stream's end";
  return reply;
}

#else

ControlReply AskServer(const std::filesystem::path& socketPath, const std::string&,
                       std::chrono::milliseconds, const std::string&) {
  ControlReply reply;
  reply.status = kControlNoServer;
  reply.why = "this system offers no local sockets to reach " + socketPath.string();
  return reply;
}

ControlReply FollowServer(const std::filesystem::path& socketPath, const std::string&,
                          const std::function<void(const ControlAnswer::Line&)>&,
                          const std::string&) {
  ControlReply reply;
  reply.status = kControlNoServer;
  reply.why = "this system offers no local sockets to reach " + socketPath.string();
  return reply;
}

#endif

}  // namespace orv
