#include "users/user_table.h"

#include <gtest/gtest.h>

#include <string>

namespace orv {
namespace {

void Add(UserTable& table, const std::string& mac, std::int32_t connection) {
  table.AddOrUpdate(mac, "10.0.0.1", "name-" + mac, ConnectionKey{connection}, "127.0.0.1", "a.gif",
                    "", 0, -1);
}

std::string MacAt(const UserTable& table, int row) {
  std::string out;
  table.GetDisplayField(row, UserTable::Field::kMac, out);
  return out;
}

// Removing a connection's records keeps the others in table order and still finds each of
// them by MAC, whichever rows moved.
TEST(UserTableTest, RemovalKeepsOrderAndLookupsByMac) {
  UserTable table;
  Add(table, "AA:00", 1);
  Add(table, "BB:00", 2);
  Add(table, "CC:00", 3);
  Add(table, "DD:00", 2);  // the same connection under a second MAC
  Add(table, "EE:00", 4);
  table.SetBlockState("CC:00", BlockState::kMac);
  table.SetBlockState("EE:00", BlockState::kName);

  EXPECT_EQ(table.RemoveByConnectionKey(ConnectionKey{2}), 2);
  EXPECT_EQ(table.RemoveByConnectionKey(ConnectionKey{99}), 0);
  ASSERT_EQ(table.GetCount(), 3);
  EXPECT_EQ(MacAt(table, 0), "AA:00");
  EXPECT_EQ(MacAt(table, 1), "CC:00");
  EXPECT_EQ(MacAt(table, 2), "EE:00");
  EXPECT_EQ(table.FindBlockState("CC:00"), BlockState::kMac);
  EXPECT_EQ(table.FindBlockState("EE:00"), BlockState::kName);
  EXPECT_EQ(table.Find("BB:00"), nullptr);
  EXPECT_EQ(table.Find("DD:00"), nullptr);

  // A removed MAC comes back as a new record at the end; a known one is updated in place.
  Add(table, "BB:00", 5);
  Add(table, "AA:00", 1);
  ASSERT_EQ(table.GetCount(), 4);
  EXPECT_EQ(MacAt(table, 3), "BB:00");
  EXPECT_EQ(MacAt(table, 0), "AA:00");
  table.SetBlockState("BB:00", BlockState::kIp);
  EXPECT_EQ(table.GetBlockStateAt(3), BlockState::kIp);
  EXPECT_EQ(table.RemoveByConnectionKey(ConnectionKey{1}), 1);
  EXPECT_EQ(table.FindBlockState("BB:00"), BlockState::kIp);
  EXPECT_EQ(table.Find("CC:00"), table.At(0));
}

}  // namespace
}  // namespace orv
