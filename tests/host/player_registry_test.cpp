// Registry bookkeeping: counts per key, identity-based release, who destroys the player.
#include "host/player_registry.h"

#include <gtest/gtest.h>

#include <boost/weak_ptr.hpp>

namespace kavo::host {
namespace {

const std::wstring kKey = L"https://video.example/watch?v=abc";

class Registry : public ::testing::Test {
 protected:
  PlayerRegistry registry_;
};

TEST_F(Registry, MainThenSlaveClosingMainFirst) {
  PlayerHandle main(new Player());
  boost::weak_ptr<Player> watch = main;
  registry_.RegisterPlayer(kKey, main);
  EXPECT_EQ(registry_.EntryFor(kKey).count, 1);

  PlayerHandle slave = registry_.LookupPlayer(kKey);
  ASSERT_EQ(slave, main);
  registry_.RegisterPlayer(kKey, slave);
  EXPECT_EQ(registry_.EntryFor(kKey).count, 2);

  registry_.ReleasePlayer(main);
  main.reset();
  EXPECT_EQ(registry_.EntryFor(kKey).count, 1);
  registry_.ReleasePlayer(slave);
  EXPECT_EQ(registry_.EntryCount(), 0u);
  EXPECT_FALSE(watch.expired());  // the slave's own handle still holds it
  slave.reset();
  EXPECT_TRUE(watch.expired());
}

TEST_F(Registry, MainThenSlaveClosingSlaveFirst) {
  PlayerHandle main(new Player());
  boost::weak_ptr<Player> watch = main;
  registry_.RegisterPlayer(kKey, main);
  PlayerHandle slave = registry_.LookupPlayer(kKey);
  registry_.RegisterPlayer(kKey, slave);

  registry_.ReleasePlayer(slave);
  slave.reset();
  EXPECT_EQ(registry_.EntryFor(kKey).count, 1);
  registry_.ReleasePlayer(main);
  EXPECT_EQ(registry_.EntryCount(), 0u);
  main.reset();
  EXPECT_TRUE(watch.expired());
}

TEST_F(Registry, LookupWithoutEntryIsEmpty) {
  EXPECT_FALSE(registry_.LookupPlayer(kKey));
  PlayerHandle main(new Player());
  registry_.RegisterPlayer(kKey, main);
  EXPECT_FALSE(registry_.LookupPlayer(kKey + L"x"));
  EXPECT_FALSE(registry_.LookupPlayer(L"HTTPS://video.example/watch?v=abc"));
  registry_.ReleasePlayer(main);
  EXPECT_FALSE(registry_.LookupPlayer(kKey));
}

TEST_F(Registry, ReleasingAnUnregisteredPlayerChangesNothing) {
  PlayerHandle main(new Player());
  PlayerHandle stranger(new Player());
  registry_.RegisterPlayer(kKey, main);
  registry_.ReleasePlayer(stranger);
  registry_.ReleasePlayer(PlayerHandle());
  EXPECT_EQ(registry_.EntryFor(kKey).count, 1);
  EXPECT_EQ(registry_.EntryFor(kKey).player, main);
}

// Two main opens of one address (a preparse and a playback, a second window): each player keeps
// its own registrations, a slave joins the newest one still registered, and closing either main
// leaves the other's registration alone.
TEST_F(Registry, EachMainOpenOfOneAddressKeepsItsOwnRegistrations) {
  PlayerHandle first(new Player());
  PlayerHandle second(new Player());
  boost::weak_ptr<Player> watchFirst = first, watchSecond = second;
  registry_.RegisterPlayer(kKey, first);
  registry_.RegisterPlayer(kKey, second);
  ASSERT_EQ(registry_.EntriesFor(kKey).size(), 2u);
  EXPECT_EQ(registry_.EntriesFor(kKey)[0].player, first);
  EXPECT_EQ(registry_.EntryFor(kKey).player, second);
  EXPECT_EQ(registry_.LookupPlayer(kKey), second);

  registry_.ReleasePlayer(second);  // the second main closes first
  second.reset();
  EXPECT_TRUE(watchSecond.expired());
  PlayerHandle slave = registry_.LookupPlayer(kKey);
  EXPECT_EQ(slave, first);
  registry_.RegisterPlayer(kKey, slave);
  EXPECT_EQ(registry_.EntryFor(kKey).count, 2);

  registry_.ReleasePlayer(first);
  first.reset();
  EXPECT_EQ(registry_.EntryFor(kKey).count, 1);
  registry_.ReleasePlayer(slave);
  slave.reset();
  EXPECT_EQ(registry_.EntryCount(), 0u);
  EXPECT_TRUE(watchFirst.expired());
}

// A newer player of the same address replaces nothing: the older one stays registered until its
// own registrations go, even when the registry holds its last handle.
TEST_F(Registry, NewerPlayerOfTheKeyLeavesTheOlderRegistered) {
  PlayerHandle first(new Player());
  boost::weak_ptr<Player> watch = first;
  registry_.RegisterPlayer(kKey, first);
  first.reset();
  registry_.RegisterPlayer(kKey, PlayerHandle(new Player()));
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(registry_.EntriesFor(kKey)[0].count, 1);
  registry_.ReleasePlayer(watch.lock());
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(registry_.EntriesFor(kKey).size(), 1u);
}

// Two inputs of one address overlap: a slave joins its own input's player, whichever main came
// last; without an input, the most recent; an input whose main has gone, none.
TEST_F(Registry, SlaveJoinsThePlayerOfItsOwnInput) {
  const char inputs[3] = {};
  PlayerHandle first(new Player()), second(new Player());
  registry_.RegisterPlayer(kKey, first, &inputs[0]);
  registry_.RegisterPlayer(kKey, second, &inputs[1]);
  EXPECT_EQ(registry_.JoinPlayer(kKey, &inputs[0]), first);
  EXPECT_EQ(registry_.EntryFor(kKey).count, 2);  // counted in the same step, now the most recent
  EXPECT_EQ(registry_.JoinPlayer(kKey, nullptr), first);
  EXPECT_FALSE(registry_.JoinPlayer(kKey, &inputs[2]));
}

TEST_F(Registry, KeysOrderByUnsignedCodeUnitsAndReleaseFindsByIdentity) {
  PlayerHandle shared(new Player());
  // U+FF41 sorts after 'b' as an unsigned code unit; both entries hold the same player.
  registry_.RegisterPlayer(std::wstring(1, wchar_t(0xFF41)), shared);
  registry_.RegisterPlayer(L"b", shared);
  registry_.ReleasePlayer(shared);  // the first entry in key order is "b"
  EXPECT_EQ(registry_.EntryFor(L"b").count, 0);
  EXPECT_EQ(registry_.EntryFor(std::wstring(1, wchar_t(0xFF41))).count, 1);
}

TEST_F(Registry, DestroyingTheRegistryReleasesItsPlayers) {
  boost::weak_ptr<Player> watch;
  {
    PlayerRegistry registry;
    PlayerHandle player(new Player());
    watch = player;
    registry.RegisterPlayer(kKey, player);
  }
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace kavo::host
