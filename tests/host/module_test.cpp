// The entry points as a host sees them: the plug-in DLL loaded with LoadLibrary, each entry point
// run with a recording setter.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "descriptor_recorder.h"

namespace kavo::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

using Entry = int (*)(int (*)(void*, void*, int, ...), void*);

struct EntryCase {
  const char* symbol;
  bool named;
};

void PrintTo(const EntryCase& entry, std::ostream* out) { *out << entry.symbol; }

class EntryPoint : public ::testing::TestWithParam<EntryCase> {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(L"libkavo_plugin.dll");
    ASSERT_NE(module_, nullptr);
    entry_ = reinterpret_cast<Entry>(GetProcAddress(module_, GetParam().symbol));
    ASSERT_NE(entry_, nullptr);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }

  int Run(DescriptorRecorder& recorder) { return entry_(&DescriptorRecorder::Setter, &recorder); }

  std::vector<std::string> Expected(const std::string& module) const {
    const bool named = GetParam().named;
    return {
        "null 0",
        module + " 263 \"DIDUZU\"",
        module + " 264 \"DIDUZU\"",
        module + " 265 \"KAVO Youtube Source\"",
        module + " 258 \"access\"",
        module + " 259 100",
        "null 1 6",
        "config 4097 4",
        "null 1 7",
        "config 4097 402",
        module + " 260" + (named ? " \"VlcOpen\"" : "") + " callback",
        module + " 261" + (named ? " \"VlcClose\"" : "") + " callback",
        module + " 257 4 http,https,yshttp,yshttps",
    };
  }

  HMODULE module_ = nullptr;
  Entry entry_ = nullptr;
};

TEST_P(EntryPoint, DescribesTheModuleInThirteenSteps) {
  DescriptorRecorder recorder(GetParam().named);
  EXPECT_EQ(Run(recorder), 0);
  EXPECT_THAT(recorder.lines, ElementsAreArray(Expected("module")));
  EXPECT_NE(recorder.open, nullptr);
  EXPECT_NE(recorder.close, nullptr);
  EXPECT_NE(recorder.open, recorder.close);
}

TEST_P(EntryPoint, HandsOverOnlyStringsThatLiveInTheLibrary) {
  DescriptorRecorder recorder(GetParam().named);
  ASSERT_EQ(Run(recorder), 0);
  ASSERT_EQ(recorder.pointers.size(), GetParam().named ? 11u : 9u);
  for (const void* p : recorder.pointers) {
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(p, &info, sizeof info), 0u);
    EXPECT_EQ(info.AllocationBase, module_) << "pointer " << p << " is not static data";
  }
}

TEST_P(EntryPoint, RefusedCapabilityStopsTheDescription) {
  DescriptorRecorder recorder(GetParam().named);
  recorder.refuseCall = 5;
  EXPECT_EQ(Run(recorder), -1);
  EXPECT_EQ(recorder.lines.size(), 5u);
}

TEST_P(EntryPoint, EveryTestedStepEndsTheDescriptionWhenRefused) {
  for (int step : {1, 2, 3, 4, 6, 11, 12, 13}) {
    DescriptorRecorder recorder(GetParam().named);
    recorder.refuseCall = step;
    EXPECT_EQ(Run(recorder), -1) << "step " << step;
    EXPECT_EQ(recorder.lines.size(), static_cast<size_t>(step)) << "step " << step;
  }
}

TEST_P(EntryPoint, RefusedConfigurationStepsAreIgnored) {
  for (int step : {7, 8, 9, 10}) {
    DescriptorRecorder recorder(GetParam().named);
    recorder.refuseCall = step;
    EXPECT_EQ(Run(recorder), 0) << "step " << step;
    EXPECT_EQ(recorder.lines.size(), 13u) << "step " << step;
  }
}

TEST_P(EntryPoint, CacheRerunWithoutModulePointerStillDescribesEverything) {
  DescriptorRecorder recorder(GetParam().named);
  recorder.fillModule = false;
  EXPECT_EQ(Run(recorder), 0);
  EXPECT_THAT(recorder.lines, ElementsAreArray(Expected("null")));
  EXPECT_NE(recorder.open, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Abis, EntryPoint,
                         ::testing::Values(EntryCase{"vlc_entry__2_2_0b", false},
                                           EntryCase{"vlc_entry__3_0_0d", true},
                                           EntryCase{"vlc_entry__3_0_0f", true}),
                         [](const auto& info) { return std::string(info.param.symbol); });

TEST(EntryPoints, EachAbiRegistersItsOwnCallbacks) {
  HMODULE module = LoadLibraryW(L"libkavo_plugin.dll");
  ASSERT_NE(module, nullptr);
  std::vector<void*> opens, closes;
  for (auto [symbol, named] :
       {EntryCase{"vlc_entry__2_2_0b", false}, EntryCase{"vlc_entry__3_0_0d", true},
        EntryCase{"vlc_entry__3_0_0f", true}}) {
    DescriptorRecorder recorder(named);
    auto entry = reinterpret_cast<Entry>(GetProcAddress(module, symbol));
    ASSERT_EQ(entry(&DescriptorRecorder::Setter, &recorder), 0);
    opens.push_back(recorder.open);
    closes.push_back(recorder.close);
  }
  EXPECT_NE(opens[0], opens[1]);
  EXPECT_NE(opens[1], opens[2]);
  EXPECT_NE(opens[0], opens[2]);
  EXPECT_NE(closes[0], closes[1]);
  EXPECT_NE(closes[1], closes[2]);
  FreeLibrary(module);
}

}  // namespace
}  // namespace kavo::test
