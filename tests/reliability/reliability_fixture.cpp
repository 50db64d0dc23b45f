#include "reliability_fixture.h"

#include <cstdlib>
#include <cstring>

namespace kavo::test {

std::string Location(const std::string& id) { return Utf8(WatchAddress(id)); }

std::string SlaveLocation(const std::string& id) {
  return Utf8(CanonicalAddress(id)) + "&vlc_slave=1";
}

namespace {

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i] == '/' ? '\\' : text[i];
    }
  }
  return out;
}

// The quoted arguments of one recorded call, in order.
std::vector<std::string> QuotedArguments(const std::string& line) {
  std::vector<std::string> quoted;
  for (size_t open = line.find('"'); open != std::string::npos; open = line.find('"', open + 1)) {
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos) break;
    quoted.push_back(line.substr(open + 1, close - open - 1));
    open = close;
  }
  return quoted;
}

}  // namespace

std::string OfferedSlave(const std::vector<std::string>& calls) {
  for (const std::string& line : calls) {
    if (line.rfind("input_Control ", 0) != 0) continue;
    for (const std::string& argument : QuotedArguments(line)) {
      if (argument.find("&vlc_slave=1") != std::string::npos) return argument;
    }
  }
  return {};
}

std::string SlaveAddress(const std::string& id, const std::string& scheme) {
  return scheme + "://" + SlaveLocation(id);
}

std::vector<std::wstring> OfferedSubtitlePaths(const std::vector<std::string>& calls) {
  std::vector<std::wstring> paths;
  for (const std::string& line : calls) {
    if (line.rfind("input_Control ", 0) != 0) continue;
    for (const std::string& argument : QuotedArguments(line)) {
      if (argument.find("vlc_slave=1") != std::string::npos) continue;
      const bool uri = argument.rfind("file:///", 0) == 0;
      paths.push_back(Wide(uri ? PercentDecoded(argument.substr(8)) : argument));
    }
  }
  return paths;
}

bool StartTimeSet(const std::vector<std::string>& calls) {
  for (const std::string& line : calls) {
    if (line.rfind("var_SetChecked ", 0) == 0 && line.find("\"start-time\"") != std::string::npos)
      return true;
  }
  return false;
}

std::vector<std::string> MetaValues(const std::vector<std::string>& calls, int type) {
  std::vector<std::string> values;
  const std::string marker = " " + std::to_string(type) + " \"";
  for (const std::string& line : calls) {
    if (line.rfind("input_item_SetMeta ", 0) != 0) continue;
    const size_t at = line.find(marker, std::strlen("input_item_SetMeta "));
    if (at == std::string::npos || line.find(' ', std::strlen("input_item_SetMeta ")) != at)
      continue;
    values.push_back(line.substr(at + marker.size(), line.size() - at - marker.size() - 1));
  }
  return values;
}

void HostFixture::SetUp() {
  ASSERT_TRUE(EnsureStandInRegistered());
  StandIn::Reset();
  ASSERT_TRUE(recorder_.Load());
  host_ = std::make_unique<HostEmulator>(GetParam());
  ASSERT_TRUE(host_->Load());
  input_.LayOut(host_->layout());
  recorder_.Reset(ShapeOf(GetParam()), input_.item);
}

void HostFixture::TearDown() {
  StandIn::Reset();
  EXPECT_EQ(StandIn::LiveObjects(), 0) << "stand-in objects outlived the test";
}

std::unique_ptr<Access> HostFixture::OpenMain(const std::string& location, bool withInput) {
  recorder_.Reset(ShapeOf(GetParam()), input_.item);
  auto access = host_->NewAccess(location, withInput ? input_.input : nullptr);
  EXPECT_EQ(access->Open(), 0) << location;
  return access;
}

void HostFixture::ExpectOpenFails(const std::string& location, const char* scheme) {
  recorder_.Reset(ShapeOf(GetParam()), input_.item);
  const long objectsBefore = StandIn::LiveObjects();
  auto access = host_->NewAccess(location, input_.input, scheme);
  const std::string shown = location.size() > 80 ? location.substr(0, 80) + "..." : location;
  OnHostThread([&] {
    EXPECT_EQ(access->Open(), -1) << shown;
    EXPECT_TRUE(ApartmentBalanced()) << "a failed open left COM initialised: " << shown;
  });
  EXPECT_TRUE(access->Untouched()) << "a failed open wrote into the host object: " << shown;
  EXPECT_EQ(StandIn::LiveObjects(), objectsBefore)
      << "a failed open left stand-in objects: " << shown;
  EXPECT_TRUE(recorder_.Calls().empty()) << "a failed open offered the host something: " << shown;
}

std::string HostName(const ::testing::TestParamInfo<HostKind>& info) { return NameOf(info.param); }

}  // namespace kavo::test
