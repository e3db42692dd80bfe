#include "app/values_json.h"

#include <algorithm>
#include <cstdint>

#include "console/code_page.h"

namespace orv {

namespace {

std::string Text(const std::string& codePageText) {
  return Cp1251ToUtf8(codePageText);
}

}  // namespace

Json UserValue(const UserRow& row) {
  Json user = Json::object();
  user["mac"] = Text(row.mac);
  user["name"] = Text(row.name);
  user["ip"] = Text(row.reportedIp);
  user["address"] = Text(row.peerAddress);
  user["block"] = Text(row.blockText);
  user["afs"] = row.afs < 0 ? Json(nullptr) : Json(row.afs);
  return user;
}

Json UsersValue(const std::vector<UserRow>& rows) {
  Json users = Json::array();
  for (const UserRow& row : rows)
    users.push_back(UserValue(row));
  return users;
}

Json StatusValue(const ServerStatus& status) {
  Json document = Json::object();
  document["version"] = Text(status.version);
  document["address"] = Text(status.address);
  document["port"] = status.port;
  document["listening"] = status.listening;
  document["notListeningReason"] = Text(status.notListeningReason);
  Json addresses = Json::array();
  for (const std::string& address : status.clientAddresses)
    addresses.push_back(Text(address));
  document["clientAddresses"] = std::move(addresses);
  document["users"] = status.users;
  document["connections"] = status.connections;
  document["uptimeSeconds"] =
      std::max<std::int64_t>(0, (status.takenAtMs - status.startedAtMs) / 1000);
  return document;
}

Json BlocksValue(const std::vector<StoredBlock>& blocks) {
  Json list = Json::array();
  for (const StoredBlock& block : blocks) {
    Json refusing = Json::array();
    for (const std::string& user : block.refusing)
      refusing.push_back(Text(user));
    Json entry = Json::object();
    entry["key"] = Text(block.key);
    entry["looksLike"] = block.looksLike == StoredBlockKind::kAddress ? "address"
                         : block.looksLike == StoredBlockKind::kMac   ? "mac"
                                                                      : "name";
    entry["refusing"] = std::move(refusing);
    list.push_back(std::move(entry));
  }
  return list;
}

// The library escapes the C0 controls; DEL and the C1 controls (in UTF-8, C2 80 to C2 9F) it
// leaves as they are. Both occur only inside strings, so escaping them here is safe.
std::string JsonLine(const Json& document) {
  const std::string dumped = document.dump(-1, ' ', false, Json::error_handler_t::replace);
  constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const auto c = static_cast<unsigned char>(dumped[i]);
    unsigned code = 0x100;
    if (c == 0x7F) {
      code = c;
    } else if (c == 0xC2 && i + 1 < dumped.size()) {
      const auto next = static_cast<unsigned char>(dumped[i + 1]);
      if (next >= 0x80 && next <= 0x9F) {
        code = next;
        ++i;
      }
    }
    if (code == 0x100) {
      out += dumped[i];
    } else {
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 0x0F];
    }
  }
  return out;
}

}  // namespace orv
