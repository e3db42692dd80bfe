#include "users/user_table.h"

#include <gtest/gtest.h>

#include <string>

namespace orv {
namespace {

class FakeConnection final : public Connection {
 public:
  explicit FakeConnection(std::int32_t key) : key_(key) {}
  std::int32_t Key() const override { return key_; }
  const std::string& PeerAddress() const override { return peer_; }
  void Send(SharedBytes) override {}
  void HoldOutput(std::chrono::milliseconds) override {}
  void Close() override {}

 private:
  std::int32_t key_;
  std::string peer_ = "127.0.0.1";
};

void Add(UserTable& table, const std::string& mac, const std::string& connection) {
  static const auto socket = std::make_shared<FakeConnection>(1);
  table.AddOrUpdate(mac, "10.0.0.1", "name-" + mac, connection, socket, "a.gif", "", 0, -1);
}

std::string MacAt(const UserTable& table, int row) {
  std::string out;
  table.GetDisplayField(row, 1, out);
  return out;
}

// Removing a connection's records keeps the others in table order and still finds each of
// them by MAC, whichever rows moved.
TEST(UserTableTest, RemovalKeepsOrderAndLookupsByMac) {
  UserTable table;
  Add(table, "AA:00", "k1");
  Add(table, "BB:00", "k2");
  Add(table, "CC:00", "k3");
  Add(table, "DD:00", "k2");  // the same connection under a second MAC
  Add(table, "EE:00", "k4");
  table.SetBlockState("CC:00", 2);
  table.SetBlockState("EE:00", 3);

  EXPECT_EQ(table.RemoveByConnectionKey("k2"), 2);
  EXPECT_EQ(table.RemoveByConnectionKey("nobody"), 0);
  ASSERT_EQ(table.GetCount(), 3);
  EXPECT_EQ(MacAt(table, 0), "AA:00");
  EXPECT_EQ(MacAt(table, 1), "CC:00");
  EXPECT_EQ(MacAt(table, 2), "EE:00");
  EXPECT_EQ(table.FindBlockState("CC:00"), 2);
  EXPECT_EQ(table.FindBlockState("EE:00"), 3);
  EXPECT_EQ(table.Find("BB:00"), nullptr);
  EXPECT_EQ(table.Find("DD:00"), nullptr);

  // A removed MAC comes back as a new record at the end; a known one is updated in place.
  Add(table, "BB:00", "k5");
  Add(table, "AA:00", "k1");
  ASSERT_EQ(table.GetCount(), 4);
  EXPECT_EQ(MacAt(table, 3), "BB:00");
  EXPECT_EQ(MacAt(table, 0), "AA:00");
  table.SetBlockState("BB:00", 1);
  EXPECT_EQ(table.GetBlockStateAt(3), 1);
  EXPECT_EQ(table.RemoveByConnectionKey("k1"), 1);
  EXPECT_EQ(table.FindBlockState("BB:00"), 1);
  EXPECT_EQ(table.Find("CC:00"), table.At(0));
}

}  // namespace
}  // namespace orv
