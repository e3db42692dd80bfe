#include "web/web_console.h"

#include <fstream>
#include <sstream>
#include <utility>

#include "files/cached_file.h"
#include "moderation/settings_check.h"
#include "moderation/settings_loader.h"
#include "web/event_streams.h"
#include "web/web_api.h"
#include "web/web_password.h"
#include "web/web_server.h"
#include "web/web_sessions.h"

namespace orv {

namespace {

std::optional<std::string> ReadWhole(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

WebConsoleSettings ReadWebConsoleSettings(const std::filesystem::path& workDir) {
  WebConsoleSettings settings;
  CachedFile file(workDir / kSettingsFileName);
  const std::string* content = file.Content();
  if (content == nullptr) return settings;
  const Settings values = ReadSettingsContent(*content, workDir / kSettingsFileName).values;
  std::int32_t port = 0;
  if (ParseWebConsoleAddress(values.WebConsole, &settings.address, &port)) settings.port = port;
  settings.certificateFile = values.WebConsoleCertificate;
  settings.keyFile = values.WebConsoleKey;
  settings.sessionIdle = std::chrono::minutes(values.WebConsoleSessionMinutes);
  settings.metrics = values.WebConsoleMetrics != 0;
  return settings;
}

struct WebConsole::Parts {
  Parts(EngineCommands& engine, const std::filesystem::path& workDir,
        const WebConsoleSettings& settings)
      : sessions(settings.sessionIdle),
        streams(sessions),
        api({workDir, !settings.certificateFile.empty(), settings.metrics}, sessions, engine,
            [this] { return streams.Texts(); }),
        server(api, engine, streams) {}

  WebSessions sessions;
  EventStreams streams;
  WebApi api;
  WebServer server;
};

WebConsole::WebConsole(EngineCommands& engine, std::filesystem::path workDir,
                       WebConsoleSettings settings)
    : parts_(std::make_unique<Parts>(engine, workDir, settings)),
      engine_(engine),
      workDir_(std::move(workDir)),
      settings_(std::move(settings)) {}

WebConsole::~WebConsole() {
  Stop();
}

std::shared_ptr<EventSubscriber> WebConsole::Subscriber() const {
  return parts_->streams.Queue();
}

bool WebConsole::Start(std::function<void(std::shared_ptr<EventSubscriber>)> subscribe,
                       std::string* error) {
  WebServer::Options options;
  options.address = settings_.address;
  options.port = settings_.port;
  const bool https = !settings_.certificateFile.empty();
  if (https) {
    const std::filesystem::path certificate = workDir_ / settings_.certificateFile;
    const std::filesystem::path key = workDir_ / settings_.keyFile;
    const auto certificatePem = ReadWhole(certificate);
    const auto keyPem = ReadWhole(key);
    if (!certificatePem || !keyPem) {
      if (error) {
        *error = "the web console's " +
                 (certificatePem ? "key " + key.string() : "certificate " + certificate.string()) +
                 " cannot be read (WebConsoleCertificate, WebConsoleKey)";
      }
      return false;
    }
    options.certificatePem = *certificatePem;
    options.keyPem = *keyPem;
  }
  std::string why;
  if (!parts_->server.Start(options, &why)) {
    if (error) *error = "the web console " + why;
    return false;
  }
  parts_->streams.Start(std::move(subscribe));

  startLines_.push_back("Web console on " + Url());
  const bool loopback = settings_.address.rfind("127.", 0) == 0;
  if (!loopback && !https) {
    startLines_.push_back(
        "Warning: the web console listens on " + settings_.address +
        " without HTTPS: its password and sessions cross the network readable by anyone on "
        "the way; set WebConsoleCertificate and WebConsoleKey, or listen on 127.0.0.1");
  }
  if (!ReadWebPasswordHash(workDir_)) {
    startLines_.push_back(
        "Web console: no password is set, so nobody can log in; run orvchatserver "
        "--set-web-password -C " +
        workDir_.string());
  }
  for (const std::string& line : startLines_)
    engine_.Execute(command::Note{line});
  return true;
}

void WebConsole::Stop() {
  parts_->server.Stop();
  parts_->streams.Stop();
}

std::string WebConsole::Url() const {
  const bool https = !settings_.certificateFile.empty();
  return std::string(https ? "https" : "http") + "://" + settings_.address + ":" +
         std::to_string(parts_->server.Port()) + "/";
}

}  // namespace orv
