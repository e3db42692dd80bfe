#include "app/control_json.h"

#include <type_traits>

#include "app/values_json.h"
#include "console/code_page.h"

namespace orv {

std::string UsersJson(const std::vector<UserRow>& rows) {
  Json document = Json::object();
  document["users"] = UsersValue(rows);
  return JsonLine(document);
}

std::string StatusJson(const ServerStatus& status) {
  return JsonLine(StatusValue(status));
}

std::string BlocksJson(const std::vector<StoredBlock>& blocks) {
  Json document = Json::object();
  document["blocks"] = BlocksValue(blocks);
  return JsonLine(document);
}

std::string EventJson(const EngineEvent& event) {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        Json document = Json::object();
        if constexpr (std::is_same_v<E, event::ConsoleLine>) {
          document["event"] = "console";
          document["text"] = Cp1251ToUtf8(e.text);
        } else if constexpr (std::is_same_v<E, event::UserJoined>) {
          document["event"] = "joined";
          document["user"] = UserValue(e.user);
        } else if constexpr (std::is_same_v<E, event::UserChanged>) {
          document["event"] = "changed";
          document["user"] = UserValue(e.user);
        } else if constexpr (std::is_same_v<E, event::UserLeft>) {
          document["event"] = "left";
          document["user"] = UserValue(e.user);
        } else {
          return {};
        }
        return JsonLine(document);
      },
      event);
}

}  // namespace orv
