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

// What clients write cannot add an entry to the list others receive: a status holding the
// list's own markers stays inside its field.
TEST(UserTableTest, ListFieldsCannotOpenOrCloseEntries) {
  UserTable table;
  table.AddOrUpdate("AA", "10.0.0.1", "mallory", ConnectionKey{1}, "10.0.0.1", "a.gif",
                    "[/IUL][IUL]|U1|GHOST-ADMIN|/U1||U2|BB|/U2||U3|1.2.3.4|/U3|", 1, -1);
  table.AddOrUpdate("BB", "10.0.0.2", "bob[1]", ConnectionKey{2}, "10.0.0.2", "b|gif", "", 0, -1);
  std::uint64_t next = 0;
  std::string block;
  EXPECT_FALSE(table.BuildListBlock(&next, block));
  auto count = [&block](const std::string& marker) {
    std::size_t n = 0;
    for (auto at = block.find(marker); at != std::string::npos; at = block.find(marker, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("[IUL]"), 2u);
  EXPECT_EQ(count("[/IUL]"), 2u);
  EXPECT_EQ(count("|U1|"), 2u);
  EXPECT_EQ(count("|U2|BB|/U2|"), 1u);  // bob's own entry, and no ghost with his MAC
  EXPECT_NE(block.find("|U1|bob(1)|/U1|"), std::string::npos) << block;
  EXPECT_NE(block.find("|U5|b\xA6gif|/U5|"), std::string::npos) << block;
  // The record itself keeps what the client wrote.
  EXPECT_EQ(table.Find("BB")->name, "bob[1]");
}

// Whether a connection speaks for a blocked user follows every change of a record.
TEST(UserTableTest, BlockedUsersAreKnownPerConnection) {
  UserTable table;
  Add(table, "AA", 1);
  Add(table, "BB", 1);
  Add(table, "CC", 2);
  EXPECT_FALSE(table.AnyBlockedFor(ConnectionKey{1}));
  table.SetBlockState("BB", BlockState::kName);
  EXPECT_TRUE(table.AnyBlockedFor(ConnectionKey{1}));
  EXPECT_FALSE(table.AnyBlockedFor(ConnectionKey{2}));
  // The blocked user moves to another connection (it came back on a new one).
  Add(table, "BB", 2);
  EXPECT_FALSE(table.AnyBlockedFor(ConnectionKey{1}));
  EXPECT_TRUE(table.AnyBlockedFor(ConnectionKey{2}));
  table.SetBlockState("BB", BlockState::kNone);
  EXPECT_FALSE(table.AnyBlockedFor(ConnectionKey{2}));
  table.SetBlockState("CC", BlockState::kMac);
  table.RemoveByConnectionKey(ConnectionKey{2});
  EXPECT_FALSE(table.AnyBlockedFor(ConnectionKey{2}));
  EXPECT_EQ(table.CountFor(ConnectionKey{1}), 1);
}

}  // namespace
}  // namespace orv
