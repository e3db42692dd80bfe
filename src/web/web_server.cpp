#include "web/web_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace orv {

namespace {

// What one request gathers between the calls libmicrohttpd makes for it.
struct Exchange {
  HttpRequest request;
  MHD_Connection* connection = nullptr;
  bool tooLarge = false;
  bool answered = false;  // WebApi has seen it
  // A command's answer: the outcome (once the engine gave it) and what makes the response.
  std::optional<Outcome> outcome;
  std::function<HttpResponse(const Outcome&)> finish;
  bool suspended = false;
  std::shared_ptr<EventStream> stream;
};

std::string Header(MHD_Connection* connection, MHD_ValueKind kind, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, kind, name);
  return value ? std::string(value) : std::string();
}

std::string PeerAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "?";
  char text[INET6_ADDRSTRLEN] = {};
  if (info->client_addr->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(info->client_addr);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
  } else if (info->client_addr->sa_family == AF_INET6) {
    const auto* in = reinterpret_cast<const sockaddr_in6*>(info->client_addr);
    inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
  }
  return text;
}

MHD_Result Send(MHD_Connection* connection, HttpResponse response) {
  WebApi::AddCommonHeaders(response);
  MHD_Response* made = MHD_create_response_from_buffer(response.body.size(), response.body.data(),
                                                       MHD_RESPMEM_MUST_COPY);
  if (made == nullptr) return MHD_NO;
  MHD_add_response_header(made, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
  for (const auto& [name, value] : response.headers)
    MHD_add_response_header(made, name.c_str(), value.c_str());
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(response.status), made);
  MHD_destroy_response(made);
  return queued;
}

HttpResponse Stopping() {
  return WebApi::Error(503, "The web console is stopping.");
}

}  // namespace

struct WebServer::Impl : std::enable_shared_from_this<WebServer::Impl> {
  Impl(WebApi& api, EngineCommands& engine, EventStreams& streams)
      : api(api), engine(engine), streams(streams) {}

  MHD_Result OnRequest(MHD_Connection* connection, const char* url, const char* method,
                       const char* upload, std::size_t* uploadSize, void** context);
  MHD_Result Answer(MHD_Connection* connection, const std::shared_ptr<Exchange>& exchange);
  MHD_Result OpenStream(MHD_Connection* connection, const std::shared_ptr<Exchange>& exchange,
                        const std::string& session);
  // On the engine thread: the outcome is handed over and the connection resumed.
  void Deliver(const std::shared_ptr<Exchange>& exchange, Outcome outcome);

  WebApi& api;
  EngineCommands& engine;
  EventStreams& streams;
  MHD_Daemon* daemon = nullptr;
  std::string certificate;  // kept while the daemon runs
  std::string key;
  int port = 0;
  // Guards the suspended exchanges and whether they may still be resumed.
  std::mutex mutex;
  bool running = false;
  std::set<std::shared_ptr<Exchange>> suspended;
};

MHD_Result WebServer::Impl::OnRequest(MHD_Connection* connection, const char* url,
                                      const char* method, const char* upload,
                                      std::size_t* uploadSize, void** context) {
  auto* slot = static_cast<std::shared_ptr<Exchange>*>(*context);
  if (slot == nullptr) {
    // The headers are in: what the API needs of them, and an early no to a body too large.
    auto exchange = std::make_shared<Exchange>();
    exchange->connection = connection;
    HttpRequest& request = exchange->request;
    request.method = method;
    request.path = url;
    request.peer = PeerAddress(connection);
    request.cookie = Header(connection, MHD_COOKIE_KIND, WebApi::kSessionCookie);
    request.csrf = Header(connection, MHD_HEADER_KIND, "X-CSRF-Token");
    request.contentType = Header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    *context = new std::shared_ptr<Exchange>(exchange);
    const std::string length = Header(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length.size() > 12 ||
        (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > WebApi::kBodyLimit)) {
      exchange->answered = true;
      return Send(connection,
                  WebApi::Error(413, "The body is larger than " +
                                         std::to_string(WebApi::kBodyLimit) + " bytes."));
    }
    return MHD_YES;
  }
  const std::shared_ptr<Exchange> exchange = *slot;
  if (*uploadSize > 0) {
    // A body without a length that grows past the limit is read and thrown away.
    std::string& body = exchange->request.body;
    if (!exchange->tooLarge && body.size() + *uploadSize <= WebApi::kBodyLimit) {
      body.append(upload, *uploadSize);
    } else {
      exchange->tooLarge = true;
      body.clear();
    }
    *uploadSize = 0;
    return MHD_YES;
  }
  if (exchange->tooLarge && !exchange->answered) {
    exchange->answered = true;
    return Send(connection, WebApi::Error(413, "The body is larger than " +
                                                   std::to_string(WebApi::kBodyLimit) + " bytes."));
  }
  return Answer(connection, exchange);
}

MHD_Result WebServer::Impl::Answer(MHD_Connection* connection,
                                   const std::shared_ptr<Exchange>& exchange) {
  if (exchange->answered) {
    // Resumed: the outcome came, or the web console is stopping.
    std::lock_guard lock(mutex);
    return Send(connection, exchange->outcome ? exchange->finish(*exchange->outcome) : Stopping());
  }
  exchange->answered = true;
  ApiAnswer answer = api.Handle(exchange->request);
  if (auto* response = std::get_if<HttpResponse>(&answer)) return Send(connection, *response);
  if (auto* stream = std::get_if<EventStreamRequest>(&answer)) {
    return OpenStream(connection, exchange, stream->session);
  }
  auto& pending = std::get<PendingCommand>(answer);
  exchange->finish = std::move(pending.finish);
  std::weak_ptr<Impl> weak = shared_from_this();
  engine.Execute(std::move(pending.command), [weak, exchange](Outcome outcome) {
    if (auto self = weak.lock()) {
      self->Deliver(exchange, std::move(outcome));
    }
  });
  std::lock_guard lock(mutex);
  if (exchange->outcome) return Send(connection, exchange->finish(*exchange->outcome));
  if (!running) return Send(connection, Stopping());
  exchange->suspended = true;
  suspended.insert(exchange);
  MHD_suspend_connection(connection);
  return MHD_YES;
}

void WebServer::Impl::Deliver(const std::shared_ptr<Exchange>& exchange, Outcome outcome) {
  std::lock_guard lock(mutex);
  exchange->outcome = std::move(outcome);
  if (!exchange->suspended || !running) return;
  exchange->suspended = false;
  suspended.erase(exchange);
  MHD_resume_connection(exchange->connection);
}

MHD_Result WebServer::Impl::OpenStream(MHD_Connection* connection,
                                       const std::shared_ptr<Exchange>& exchange,
                                       const std::string& session) {
  exchange->stream = streams.Open(
      session, [connection] { MHD_suspend_connection(connection); },
      [connection] { MHD_resume_connection(connection); });
  if (!exchange->stream) {
    HttpResponse busy = WebApi::Error(503, "Too many event streams are open (" +
                                               std::to_string(EventStreams::kMostStreams) +
                                               "); close a page and try again.");
    busy.headers.emplace_back("Retry-After", "10");
    return Send(connection, busy);
  }
  MHD_Response* response = MHD_create_response_from_callback(
      MHD_SIZE_UNKNOWN, 4096,
      [](void* cls, std::uint64_t, char* buffer, std::size_t max) -> ssize_t {
        const long n = (*static_cast<std::shared_ptr<EventStream>*>(cls))->Read(buffer, max);
        return n == EventStream::kEnd ? MHD_CONTENT_READER_END_OF_STREAM : n;
      },
      new std::shared_ptr<EventStream>(exchange->stream),
      [](void* cls) { delete static_cast<std::shared_ptr<EventStream>*>(cls); });
  if (response == nullptr) return MHD_NO;
  HttpResponse headers;
  WebApi::AddCommonHeaders(headers);
  for (const auto& [name, value] : headers.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
  const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return queued;
}

WebServer::WebServer(WebApi& api, EngineCommands& engine, EventStreams& streams)
    : api_(api), engine_(engine), streams_(streams) {}

WebServer::~WebServer() {
  Stop();
}

bool WebServer::Start(const Options& options, std::string* error) {
  auto fail = [error](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (impl_) return fail("the web console runs already");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(options.port));
  if (inet_pton(AF_INET, options.address.c_str(), &address.sin_addr) != 1) {
    return fail(options.address + " is not an IPv4 address");
  }
  const bool https = !options.certificatePem.empty();
  if (https && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
    return fail("this build of libmicrohttpd has no HTTPS");
  }

  auto impl = std::make_shared<Impl>(api_, engine_, streams_);
  impl->certificate = options.certificatePem;
  impl->key = options.keyPem;
  impl->running = true;
  const MHD_AccessHandlerCallback onRequest = [](void* cls, MHD_Connection* connection,
                                                 const char* url, const char* method, const char*,
                                                 const char* upload, std::size_t* uploadSize,
                                                 void** context) {
    return static_cast<Impl*>(cls)->OnRequest(connection, url, method, upload, uploadSize, context);
  };
  const MHD_RequestCompletedCallback onCompleted = [](void* cls, MHD_Connection*, void** context,
                                                      MHD_RequestTerminationCode) {
    auto* slot = static_cast<std::shared_ptr<Exchange>*>(*context);
    if (slot == nullptr) return;
    if ((*slot)->stream) static_cast<Impl*>(cls)->streams.Close((*slot)->stream);
    delete slot;
    *context = nullptr;
  };
  const MHD_LogCallback quiet = [](void*, const char*, va_list) {};
  unsigned flags = MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
  if (https) flags |= MHD_USE_TLS;
  MHD_OptionItem tls[] = {
      {https ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0,
       const_cast<char*>(impl->certificate.c_str())},
      {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(impl->key.c_str())},
      {MHD_OPTION_END, 0, nullptr},
  };
  impl->daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, onRequest, impl.get(), MHD_OPTION_SOCK_ADDR, &address,
      MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u, MHD_OPTION_THREAD_POOL_SIZE, kThreads,
      MHD_OPTION_CONNECTION_LIMIT, kMostConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      kMostPerAddress, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(32 * 1024),
      MHD_OPTION_NOTIFY_COMPLETED, onCompleted, impl.get(), MHD_OPTION_EXTERNAL_LOGGER, quiet,
      nullptr, MHD_OPTION_ARRAY, tls, MHD_OPTION_END);
  if (impl->daemon == nullptr) {
    const int why = errno;
    return fail("cannot listen on " + options.address + ":" + std::to_string(options.port) +
                (https ? " (HTTPS: is the certificate or the key unusable?)" : "") +
                (why != 0 ? std::string(": ") + std::strerror(why) : std::string()));
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(impl->daemon, MHD_DAEMON_INFO_BIND_PORT);
  impl->port = info != nullptr ? info->port : options.port;
  impl_ = impl;
  return true;
}

int WebServer::Port() const {
  return impl_ ? impl_->port : 0;
}

void WebServer::Stop() {
  if (!impl_) return;
  const std::shared_ptr<Impl> impl = std::move(impl_);
  {
    // What waits for the engine is answered "stopping"; no more waiting from now on.
    std::lock_guard lock(impl->mutex);
    impl->running = false;
    for (const auto& exchange : impl->suspended) {
      exchange->suspended = false;
      MHD_resume_connection(exchange->connection);
    }
    impl->suspended.clear();
  }
  streams_.Stop();
  // Give the resumed connections a moment to take their last answer.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  MHD_stop_daemon(impl->daemon);
}

}  // namespace orv
