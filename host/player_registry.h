// The process-wide registry that lets a slave access find the player of its main access, keyed
// by normalized address and told apart by the host input the main was opened for. Every operation
// takes the registry's lock for its own duration; host threads opening and closing different
// accesses meet here.
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
  const void* input = nullptr;  // the host input its main access was opened for, or null
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
  // Counts one more registration of `player` under `key`, for a main access opened for the host
  // input `input` (null when it has none). Each player keeps its own count, so two main opens of
  // one address never take each other's registrations; the player becomes the key's most recent.
  void RegisterPlayer(const std::wstring& key, const PlayerHandle& player,
                      const void* input = nullptr);
  // For a slave access of the host input `input`, in one step: finds the player its main access
  // registered under `key` for the same input (a slave is a source of its main's input) and
  // counts one more registration of it. Where the slave or a main has no input, the most recent
  // such player. An empty handle, with nothing counted, when there is none.
  PlayerHandle JoinPlayer(const std::wstring& key, const void* input);
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
