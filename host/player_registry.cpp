#include "host/player_registry.h"

namespace kavo::host {

namespace {

// Created with the library, before any entry point or callback runs.
PlayerRegistry registry;

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
  return found == entries_.end() ? PlayerHandle() : found->second.player;
}

void PlayerRegistry::RegisterPlayer(const std::wstring& key, const PlayerHandle& player) {
  CAutoLock lock(&lock_);
  RegistryEntry& entry = entries_[key];
  entry.count = entry.player == player ? entry.count + 1 : 1;
  entry.player = player;  // the handle held before, if any, is released here, under the lock
}

void PlayerRegistry::ReleasePlayer(const PlayerHandle& player) {
  if (!player) return;
  CAutoLock lock(&lock_);
  for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
    if (entry->second.player != player) continue;
    if (--entry->second.count == 0) entries_.erase(entry);
    return;
  }
}

RegistryEntry PlayerRegistry::EntryFor(const std::wstring& key) {
  CAutoLock lock(&lock_);
  const auto found = entries_.find(key);
  return found == entries_.end() ? RegistryEntry() : found->second;
}

size_t PlayerRegistry::EntryCount() {
  CAutoLock lock(&lock_);
  return entries_.size();
}

}  // namespace kavo::host
