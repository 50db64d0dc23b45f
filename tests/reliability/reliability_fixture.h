// What the reliability tests share: a host of each kind driving the plug-in over the stand-in
// source filter in Wine's real graph manager, the recording core library for what the host is
// offered, and the checks that every failed open must pass (result -1, host object untouched,
// COM apartment balanced, no stand-in object left).
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core_recorder.h"
#include "host_emulator.h"
#include "host_test_support.h"
#include "standin_client.h"

namespace kavo::test {

std::string Location(const std::string& id);  // "video.example/watch?v=<id>"
// The slave location of <id> as the host passes it: everything after the offered address's scheme.
std::string SlaveLocation(const std::string& id);

// The whole audio slave address a main open offered ("yshttps://https://...&vlc_slave=1"), or "".
std::string OfferedSlave(const std::vector<std::string>& calls);
// What a main open of <id> offers under that scheme.
std::string SlaveAddress(const std::string& id, const std::string& scheme = "yshttps");
// The subtitle files a main open offered, as paths (URIs of release hosts decoded).
std::vector<std::wstring> OfferedSubtitlePaths(const std::vector<std::string>& calls);
// True when a var_SetChecked of "start-time" was recorded.
bool StartTimeSet(const std::vector<std::string>& calls);
// The value of every input_item_SetMeta of this meta type.
std::vector<std::string> MetaValues(const std::vector<std::string>& calls, int type);

class HostFixture : public ::testing::TestWithParam<HostKind> {
 protected:
  void SetUp() override;
  void TearDown() override;

  HostKind kind() const { return GetParam(); }
  bool is22() const { return GetParam() == HostKind::V22; }

  // An opened main access; withInput gives it a parent input, so the hand-over runs and the
  // recorder holds what it offered.
  std::unique_ptr<Access> OpenMain(const std::string& location, bool withInput = false);
  // Opens on a host thread of its own and checks everything a failed open must leave as it was.
  void ExpectOpenFails(const std::string& location, const char* scheme = "yshttps");

  CoreRecorder recorder_;
  std::unique_ptr<HostEmulator> host_;
  HostInput input_;
  Catalog catalog_;
};

std::string HostName(const ::testing::TestParamInfo<HostKind>& info);

inline auto EveryHost() {
  return ::testing::Values(HostKind::V22, HostKind::V30Development, HostKind::V30Release);
}

}  // namespace kavo::test
