#include "host/player_registry.h"

#include <atomic>

namespace kavo::host {

namespace {

std::atomic<bool> abandonAtExit{false};

class Lock {
 public:
  explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Lock() { LeaveCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

// Created with the library, before any entry point or callback runs.
PlayerRegistry registry;

}  // namespace

PlayerRegistry& Registry() { return registry; }

PlayerRegistry::PlayerRegistry() { InitializeCriticalSection(&lock_); }

PlayerRegistry::~PlayerRegistry() {
  DeleteCriticalSection(&lock_);
  if (abandonAtExit.load()) {
    // Releasing a player now would stop its graph and wait for streaming threads that no
    // longer exist, under the loader lock. Leak the handles instead: the process is ending.
    for (auto& entry : entries_) new PlayerHandle(std::move(entry.second.player));
  }
  entries_.clear();
}

void PlayerRegistry::AbandonAtExit() { abandonAtExit.store(true); }

PlayerHandle PlayerRegistry::LookupPlayer(const std::wstring& key) {
  Lock lock(lock_);
  const auto found = entries_.find(key);
  return found == entries_.end() ? PlayerHandle() : found->second.player;
}

void PlayerRegistry::RegisterPlayer(const std::wstring& key, const PlayerHandle& player) {
  Lock lock(lock_);
  RegistryEntry& entry = entries_[key];
  entry.count = entry.player == player ? entry.count + 1 : 1;
  entry.player = player;  // the handle held before, if any, is released here, under the lock
}

void PlayerRegistry::ReleasePlayer(const PlayerHandle& player) {
  if (!player) return;
  Lock lock(lock_);
  for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
    if (entry->second.player != player) continue;
    if (--entry->second.count == 0) entries_.erase(entry);
    return;
  }
}

RegistryEntry PlayerRegistry::EntryFor(const std::wstring& key) {
  Lock lock(lock_);
  const auto found = entries_.find(key);
  return found == entries_.end() ? RegistryEntry() : found->second;
}

size_t PlayerRegistry::EntryCount() {
  Lock lock(lock_);
  return entries_.size();
}

}  // namespace kavo::host
