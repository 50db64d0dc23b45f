// The process-wide registry that lets a slave access find the player of its main access, keyed
// by normalized address. Every operation takes the registry's lock for its own duration; host
// threads opening and closing different accesses meet here.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "common/critical_section.h"
#include "player/player.h"

namespace kavo::host {

struct RegistryEntry {
  int count = 0;  // registrations under this key not yet released
  PlayerHandle player;
};

class PlayerRegistry {
 public:
  PlayerRegistry();
  ~PlayerRegistry();
  PlayerRegistry(const PlayerRegistry&) = delete;
  PlayerRegistry& operator=(const PlayerRegistry&) = delete;

  // The player registered under `key`, or an empty handle.
  PlayerHandle LookupPlayer(const std::wstring& key);
  // Counts one more registration under `key` and stores `player` there. Storing a different
  // player than the entry held restarts the count at 1: the old player's registrations no
  // longer describe the entry.
  void RegisterPlayer(const std::wstring& key, const PlayerHandle& player);
  // Releases one registration of `player` (found by identity, not by key).
  void ReleasePlayer(const PlayerHandle& player);

  // For tests: the entry under `key`, or a count of 0 and an empty handle.
  RegistryEntry EntryFor(const std::wstring& key);
  size_t EntryCount();


 private:
  CCritSec lock_;
  std::map<std::wstring, RegistryEntry> entries_;
};

// The one registry of the process, created when the library is loaded.
PlayerRegistry& Registry();

}  // namespace kavo::host
