#include "host/player_registry.h"

#include <algorithm>

namespace kavo::host {

namespace {

// Created with the library, before any entry point or callback runs.
PlayerRegistry registry;

// Counts one more registration of an entry and makes it the most recent; its player.
PlayerHandle CountAgain(std::vector<RegistryEntry>& players,
                        std::vector<RegistryEntry>::iterator entry) {
  ++entry->count;
  std::rotate(entry, entry + 1, players.end());
  return players.back().player;
}

}  // namespace

PlayerRegistry& Registry() { return registry; }

PlayerRegistry::PlayerRegistry() = default;

// An entry never holds a player's last handle: every registration belongs to an open access that
// holds its own. So releasing the entries here destroys no player, even at process exit with
// accesses left open.
PlayerRegistry::~PlayerRegistry() { entries_.clear(); }

PlayerHandle PlayerRegistry::LookupPlayer(const std::wstring& key) {
  CAutoLock lock(&lock_);
  const auto found = entries_.find(key);
  return found == entries_.end() ? PlayerHandle() : found->second.back().player;
}

void PlayerRegistry::RegisterPlayer(const std::wstring& key, const PlayerHandle& player,
                                    const void* input) {
  CAutoLock lock(&lock_);
  std::vector<RegistryEntry>& players = entries_[key];
  const auto found = std::find_if(players.begin(), players.end(), [&](const RegistryEntry& entry) {
    return entry.player == player;
  });
  if (found == players.end()) {
    players.push_back(RegistryEntry{1, player, input});
  } else {
    CountAgain(players, found);
  }
}

PlayerHandle PlayerRegistry::JoinPlayer(const std::wstring& key, const void* input) {
  CAutoLock lock(&lock_);
  const auto found = entries_.find(key);
  if (found == entries_.end()) return PlayerHandle();
  std::vector<RegistryEntry>& players = found->second;
  auto joined = players.end();
  for (auto entry = players.end(); entry != players.begin();) {
    --entry;
    if (input && entry->input == input) {
      joined = entry;
      break;
    }
    if (joined == players.end() && (!input || !entry->input)) joined = entry;
  }
  if (joined == players.end()) return PlayerHandle();
  return CountAgain(players, joined);
}

void PlayerRegistry::ReleasePlayer(const PlayerHandle& player) {
  if (!player) return;
  CAutoLock lock(&lock_);
  for (auto key = entries_.begin(); key != entries_.end(); ++key) {
    std::vector<RegistryEntry>& players = key->second;
    for (auto entry = players.begin(); entry != players.end(); ++entry) {
      if (entry->player != player) continue;
      // The last registration goes with its handle, here, under the lock.
      if (--entry->count == 0) players.erase(entry);
      if (players.empty()) entries_.erase(key);
      return;
    }
  }
}

std::vector<RegistryEntry> PlayerRegistry::EntriesFor(const std::wstring& key) {
  CAutoLock lock(&lock_);
  const auto found = entries_.find(key);
  return found == entries_.end() ? std::vector<RegistryEntry>() : found->second;
}

RegistryEntry PlayerRegistry::EntryFor(const std::wstring& key) {
  const std::vector<RegistryEntry> players = EntriesFor(key);
  return players.empty() ? RegistryEntry() : players.back();
}

size_t PlayerRegistry::EntryCount() {
  CAutoLock lock(&lock_);
  return entries_.size();
}

}  // namespace kavo::host
