// Registration, creation, the interface table, Load and the process-wide knobs.
#include <atomic>
#include <chrono>
#include <thread>

#include "standin_fixture.h"

#include <qnetwork.h>

namespace kavo::test {
namespace {

std::wstring RegistryString(const wchar_t* key, const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return value;
}

bool Offers(IUnknown* object, REFIID riid) {
  ComPtr<IUnknown> answer;
  return SUCCEEDED(object->QueryInterface(riid, reinterpret_cast<void**>(answer.GetAddressOf())));
}

HRESULT LoadAddress(IBaseFilter* filter, const std::wstring& address) {
  ComPtr<IFileSourceFilter> source;
  const HRESULT queried = filter->QueryInterface(IID_IFileSourceFilter,
                                                 reinterpret_cast<void**>(source.GetAddressOf()));
  if (FAILED(queried)) return queried;
  return source->Load(address.c_str(), nullptr);
}

using StandInLifecycle = StandInTest;

TEST_F(StandInLifecycle, RegistersAnInProcessServerForThisUserWithThreadingModelBoth) {
  const std::wstring key = L"Software\\Classes\\" + SourceFilterClassKey() + L"\\InprocServer32";
  const std::wstring path = RegistryString(key.c_str(), nullptr);
  const std::wstring name = L"\\kavo_standin_source.dll";
  ASSERT_GT(path.size(), name.size());
  EXPECT_EQ(path.substr(path.size() - name.size()), name);
  EXPECT_NE(path.find(L'\\'), std::wstring::npos) << "a full path, not a bare name";
  EXPECT_EQ(RegistryString(key.c_str(), L"ThreadingModel"), L"Both");
}

TEST_F(StandInLifecycle, OffersEveryInterfaceOfTheContractWithOneIdentity) {
  ComPtr<IBaseFilter> filter = Create();
  ASSERT_TRUE(filter);
  for (REFIID riid :
       {IID_IPersist, IID_IMediaFilter, IID_IBaseFilter, IID_IFileSourceFilter, IID_ISourceControl,
        IID_IPropertyBag2, kIidMediaContent, IID_IAMOpenProgress}) {
    ComPtr<IUnknown> answer;
    ASSERT_EQ(filter->QueryInterface(riid, reinterpret_cast<void**>(answer.GetAddressOf())), S_OK);
    ComPtr<IUnknown> identity;
    answer.As(&identity);
    ComPtr<IUnknown> filterIdentity;
    filter.As(&filterIdentity);
    EXPECT_EQ(identity.Get(), filterIdentity.Get());
  }
  EXPECT_FALSE(Offers(filter.Get(), IID_IAsyncReader));
  CLSID id = {};
  EXPECT_EQ(filter->GetClassID(&id), S_OK);
  EXPECT_TRUE(IsEqualCLSID(id, CLSID_KavoSourceFilter));
}

TEST_F(StandInLifecycle, AFailingClassFactoryFailsCreationWithItsCode) {
  StandIn::SetCreateFailure(E_ACCESSDENIED);
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                             reinterpret_cast<void**>(filter.GetAddressOf())),
            E_ACCESSDENIED);
  EXPECT_FALSE(filter);
  StandIn::SetCreateFailure(S_OK);
  EXPECT_TRUE(Create());
  EXPECT_EQ(StandIn::FiltersCreated(), 1);
}

TEST_F(StandInLifecycle, HiddenInterfacesAreRefusedFromCreationOn) {
  StandIn::SetHiddenInterfaces(StandIn::kFileSource | StandIn::kSourceControl);
  ComPtr<IBaseFilter> filter = Create();
  EXPECT_FALSE(Offers(filter.Get(), IID_IFileSourceFilter));
  EXPECT_FALSE(Offers(filter.Get(), IID_ISourceControl));
  EXPECT_TRUE(Offers(filter.Get(), IID_IPropertyBag2));
}

TEST_F(StandInLifecycle, PerVideoFaultsHideInterfacesOnceLoaded) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("hide")
                                          .Fault("no_source_control")
                                          .Line("property_bag = none")
                                          .Line("media_content = none")
                                          .Line("open_progress = none"));
  ASSERT_TRUE(filter);
  EXPECT_FALSE(Offers(filter.Get(), IID_IAMOpenProgress));
  EXPECT_FALSE(Offers(filter.Get(), IID_ISourceControl));
  EXPECT_FALSE(Offers(filter.Get(), IID_IPropertyBag2));
  EXPECT_FALSE(Offers(filter.Get(), kIidMediaContent));
  EXPECT_FALSE(Offers(filter.Get(), IID_IDispatch));
  EXPECT_TRUE(Offers(filter.Get(), IID_IFileSourceFilter));
}

// A slow Load reports its progress, and an abort from another thread ends it at once; the filter
// stays unloaded then and loads later as if nothing had happened.
TEST_F(StandInLifecycle, ASlowLoadTakesItsTimeAndCanBeAborted) {
  using Clock = std::chrono::steady_clock;
  ASSERT_TRUE(
      catalog_.Add(CatalogVideo("slow").Container(PatternBytes(1000)).Line("load_ms = 150")));
  ASSERT_TRUE(catalog_.Add(CatalogVideo("stuck").Line("load_ms = 5000")));
  ComPtr<IBaseFilter> filter = Create();
  ComPtr<IAMOpenProgress> progress;
  ASSERT_EQ(filter->QueryInterface(IID_IAMOpenProgress,
                                   reinterpret_cast<void**>(progress.GetAddressOf())),
            S_OK);
  LONGLONG total = -1;
  LONGLONG current = -1;

  std::atomic<HRESULT> loaded{E_PENDING};
  Clock::time_point ended;
  std::thread loader([&] {
    loaded = LoadAddress(filter.Get(), WatchAddress("stuck"));
    ended = Clock::now();
  });
  Sleep(50);
  EXPECT_EQ(progress->QueryProgress(&total, &current), S_OK);
  EXPECT_EQ(total, 4096);
  EXPECT_GT(current, 0);
  EXPECT_LT(current, total);
  const Clock::time_point asked = Clock::now();
  EXPECT_EQ(progress->AbortOperation(), S_OK);
  loader.join();
  EXPECT_EQ(loaded, E_ABORT);
  EXPECT_LT(ended - asked, std::chrono::milliseconds(50));
  EXPECT_TRUE(Pins(filter.Get()).empty()) << "an aborted Load leaves the filter unloaded";
  EXPECT_EQ(progress->QueryProgress(&total, &current), E_UNEXPECTED);

  EXPECT_EQ(progress->AbortOperation(), S_OK) << "with no Load pending it changes nothing";
  const Clock::time_point started = Clock::now();
  EXPECT_EQ(LoadAddress(filter.Get(), WatchAddress("slow")), S_OK);
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(150));
  EXPECT_EQ(progress->QueryProgress(&total, &current), S_OK);
  EXPECT_EQ(total, 1000);
  EXPECT_EQ(current, 1000);
}

TEST_F(StandInLifecycle, LoadFindsTheVideoByAnyAcceptedAddressAndKeepsTheAddressGiven) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("Ab_-9")));
  ComPtr<IBaseFilter> filter = Create();
  const std::wstring address = L"YSHTTPS://m.video.example/watch?feature=share&v=Ab_-9&t=3";
  ASSERT_EQ(LoadAddress(filter.Get(), address), S_OK) << StandIn::LastLoadError();
  ComPtr<IFileSourceFilter> source;
  filter.As(&source);
  LPOLESTR current = nullptr;
  AM_MEDIA_TYPE type = {};
  ASSERT_EQ(source->GetCurFile(&current, &type), S_OK);
  EXPECT_EQ(std::wstring(current), address);
  EXPECT_TRUE(IsEqualGUID(type.majortype, MEDIATYPE_Stream));
  CoTaskMemFree(current);
  EXPECT_EQ(LoadAddress(filter.Get(), address), E_UNEXPECTED) << "a filter loads once";
}

TEST_F(StandInLifecycle, LoadFailsForUnknownVideosDeclinedAddressesAndInjectedFaults) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("faulty").Fault("load = 0x80070005")));
  EXPECT_EQ(LoadAddress(Create().Get(), WatchAddress("faulty")), E_ACCESSDENIED);
  EXPECT_TRUE(FAILED(LoadAddress(Create().Get(), WatchAddress("missing"))));
  EXPECT_NE(StandIn::LastLoadError().find("missing"), std::string::npos);
  EXPECT_TRUE(FAILED(LoadAddress(Create().Get(), L"https://elsewhere.example/watch?v=abc")));
  EXPECT_EQ(LoadAddress(Create().Get(), L""), E_INVALIDARG);
  ComPtr<IFileSourceFilter> source;
  Create().As(&source);
  EXPECT_EQ(source->Load(nullptr, nullptr), E_POINTER);
  LPOLESTR current = reinterpret_cast<LPOLESTR>(1);
  EXPECT_TRUE(FAILED(source->GetCurFile(&current, nullptr)));
  EXPECT_EQ(current, nullptr);
}

TEST_F(StandInLifecycle, ACatalogMistakeFailsLoadAndSaysWhere) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("typo").Title("fine").Line("titel = oops")));
  EXPECT_EQ(LoadAddress(Create().Get(), WatchAddress("typo")), VFW_E_INVALID_FILE_FORMAT);
  const std::string error = StandIn::LastLoadError();
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
  EXPECT_NE(error.find("titel"), std::string::npos) << error;

  ASSERT_TRUE(catalog_.Add(CatalogVideo("badcue").Track(CatalogTrack().Line("12 x text"))));
  EXPECT_EQ(LoadAddress(Create().Get(), WatchAddress("badcue")), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_NE(StandIn::LastLoadError().find("track1.txt line 1"), std::string::npos)
      << StandIn::LastLoadError();
}

TEST_F(StandInLifecycle, TheCatalogRootIsReadAtEachLoad) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("first")));
  ComPtr<IBaseFilter> early = Create();
  {
    Catalog other;
    ASSERT_TRUE(other.Add(CatalogVideo("second")));
    EXPECT_EQ(LoadAddress(Create().Get(), WatchAddress("second")), S_OK);
    EXPECT_TRUE(FAILED(LoadAddress(early.Get(), WatchAddress("first"))));
  }
  EXPECT_EQ(LoadAddress(Create().Get(), WatchAddress("first")), S_OK);
}

TEST_F(StandInLifecycle, VersionIsFiveUnlessTheProcessOrTheVideoSaysOtherwise) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("v4").Line("version = 4")));
  ComPtr<ISourceControl> control;
  Create().As(&control);
  EXPECT_EQ(control->GetVersion(), 5u);
  StandIn::SetVersion(3);
  EXPECT_EQ(control->GetVersion(), 3u);
  StandIn::SetVersion(7);
  ComPtr<IBaseFilter> filter = Create();
  ASSERT_EQ(LoadAddress(filter.Get(), WatchAddress("v4")), S_OK);
  filter.As(&control);
  EXPECT_EQ(control->GetVersion(), 4u);
  EXPECT_EQ(control->Unused1(), E_NOTIMPL);
  EXPECT_EQ(control->Unused2(), E_NOTIMPL);
}

TEST_F(StandInLifecycle, TheServerCannotUnloadWhileAFilterLives) {
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  const auto canUnload = reinterpret_cast<CanUnload>(
      GetProcAddress(GetModuleHandleW(L"kavo_standin_source.dll"), "DllCanUnloadNow"));
  ASSERT_TRUE(canUnload);
  {
    ComPtr<IBaseFilter> filter = Create();
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  EXPECT_EQ(canUnload(), S_OK);
}

// Each open of the host makes its own instance on its own thread, STA or not.
TEST_F(StandInLifecycle, WorksFromSeveralApartmentsAtOnce) {
  const std::string container = PatternBytes(20000, 5);
  ASSERT_TRUE(
      catalog_.Add(CatalogVideo("shared").Container(container).Audio(PatternBytes(999, 6))));
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&failures, &container, t] {
      CoInitializeEx(nullptr, t % 2 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
      for (int round = 0; round < 10; ++round) {
        ComPtr<IBaseFilter> filter;
        ComPtr<ISourceControl> control;
        BSTR normalized = nullptr;
        if (FAILED(CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                    reinterpret_cast<void**>(filter.GetAddressOf()))) ||
            FAILED(filter.As(&control)) ||
            control->NormalizeAddress(L"vid.example/shared", 0, &normalized) != S_OK ||
            std::wstring(normalized) != CanonicalAddress("shared") ||
            LoadAddress(filter.Get(), normalized) != S_OK) {
          ++failures;
        } else {
          const ComPtr<IAsyncReader> reader = ReaderOf(filter.Get(), 0);
          HRESULT read = E_FAIL;
          if (!reader ||
              Read(reader.Get(), 100 * t, 300, &read) != container.substr(100 * t, 300) ||
              read != S_OK) {
            ++failures;
          }
        }
        SysFreeString(normalized);
      }
      CoUninitialize();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace kavo::test
