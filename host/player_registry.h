// The process-wide registry that lets a slave access find the player of its main access, keyed
// by normalized address. Every operation takes the registry's lock for its own duration; host
// threads opening and closing different accesses meet here.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "common/critical_section.h"
#include "player/player.h"

namespace kavo::host {

struct RegistryEntry {
  int count = 0;  // registrations of this player not yet released
  PlayerHandle player;
};

class PlayerRegistry {
 public:
  PlayerRegistry();
  ~PlayerRegistry();
  PlayerRegistry(const PlayerRegistry&) = delete;
  PlayerRegistry& operator=(const PlayerRegistry&) = delete;

  // The most recently registered player under `key` that still has registrations, or an empty
  // handle.
  PlayerHandle LookupPlayer(const std::wstring& key);
  // Counts one more registration of `player` under `key`. Each player keeps its own count, so
  // two main opens of one address never take each other's registrations; a player new to the
  // key becomes its most recent.
  void RegisterPlayer(const std::wstring& key, const PlayerHandle& player);
  // Releases one registration of `player` (found by identity, not by key).
  void ReleasePlayer(const PlayerHandle& player);

  // For tests: the players registered under `key`, the most recent last.
  std::vector<RegistryEntry> EntriesFor(const std::wstring& key);
  // For tests: the most recent of them, or a count of 0 and an empty handle.
  RegistryEntry EntryFor(const std::wstring& key);
  size_t EntryCount();  // keys with registrations

 private:
  CCritSec lock_;
  std::map<std::wstring, std::vector<RegistryEntry>> entries_;
};

// The one registry of the process, created when the library is loaded.
PlayerRegistry& Registry();

}  // namespace kavo::host
