// The video's properties through IPropertyBag2 and IAMMediaContent.
#include "standin_fixture.h"

#include <qnetwork.h>

namespace kavo::test {
namespace {

struct BagEntry {
  DWORD hint;
  bool nullName;
  std::wstring name;
  VARTYPE type;
  HRESULT result;
  std::wstring text;  // of a BSTR value
  LONGLONG number;    // of an integer value
};

// Walks the bag the way the plug-in's reader does: count, describe all, read all.
std::vector<BagEntry> ReadBag(IBaseFilter* filter) {
  std::vector<BagEntry> entries;
  ComPtr<IPropertyBag2> bag;
  if (FAILED(
          filter->QueryInterface(IID_IPropertyBag2, reinterpret_cast<void**>(bag.GetAddressOf()))))
    return entries;
  ULONG count = 0;
  if (FAILED(bag->CountProperties(&count)) || count == 0) return entries;
  std::vector<PROPBAG2> descriptions(count);
  ULONG returned = 0;
  if (FAILED(bag->GetPropertyInfo(0, count, descriptions.data(), &returned))) return entries;
  std::vector<VARIANT> values(returned);
  std::vector<HRESULT> results(returned, E_UNEXPECTED);
  const HRESULT read =
      bag->Read(returned, descriptions.data(), nullptr, values.data(), results.data());
  for (ULONG i = 0; i < returned; ++i) {
    BagEntry entry = {descriptions[i].dwHint,
                      descriptions[i].pstrName == nullptr,
                      descriptions[i].pstrName ? descriptions[i].pstrName : L"",
                      values[i].vt,
                      results[i],
                      L"",
                      0};
    if (SUCCEEDED(read) && values[i].vt == VT_BSTR && values[i].bstrVal) {
      entry.text.assign(values[i].bstrVal, SysStringLen(values[i].bstrVal));
    }
    if (values[i].vt == VT_I4) entry.number = values[i].lVal;
    if (values[i].vt == VT_I8) entry.number = values[i].llVal;
    if (SUCCEEDED(read) && SUCCEEDED(results[i])) {
      EXPECT_EQ(descriptions[i].vt, values[i].vt);
    }
    if (FAILED(read)) entry.result = read;
    CoTaskMemFree(descriptions[i].pstrName);
    VariantClear(&values[i]);
    entries.push_back(entry);
  }
  return entries;
}

using StandInProperties = StandInTest;

TEST_F(StandInProperties, TheBagListsThePropertiesInCatalogOrderWithTheirHints) {
  ComPtr<IBaseFilter> filter =
      Loaded(CatalogVideo("bag")
                 .Title("A clip \xC3\xA9t\xC3\xA9")
                 .Description("line one\nline two")
                 .ThumbnailUrls("https://img.example/1.jpg https://img.example/2.jpg")
                 .Date(1600000000)
                 .Property(2, "author", "Someone"));
  ASSERT_TRUE(filter);
  const std::vector<BagEntry> bag = ReadBag(filter.Get());
  ASSERT_EQ(bag.size(), 5u);
  const struct {
    DWORD hint;
    const wchar_t* name;
    std::wstring value;
  } expected[] = {
      {1, L"title", L"A clip \u00e9t\u00e9"},
      {1, L"description", L"line one\nline two"},
      {1, L"thumbnail_urls", L"https://img.example/1.jpg https://img.example/2.jpg"},
      {0, L"date", L"1600000000"},
      {2, L"author", L"Someone"},
  };
  for (size_t i = 0; i < bag.size(); ++i) {
    EXPECT_EQ(bag[i].hint, expected[i].hint) << i;
    EXPECT_EQ(bag[i].name, expected[i].name) << i;
    EXPECT_EQ(bag[i].type, VT_BSTR) << i;
    EXPECT_EQ(bag[i].result, S_OK) << i;
    EXPECT_EQ(bag[i].text, expected[i].value) << i;
  }
}

TEST_F(StandInProperties, OddPropertiesForTheReadersGuards) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("odd")
                                          .Property(1, "year", "1999")
                                          .Property(1, "year", "2001")
                                          .NullNameProperty(1, "nameless")
                                          .Property(1, "count", "42", "as:i4")
                                          .Property(1, "nothing", "", "as:null")
                                          .Property(1, "broken", "x", "fails:0x80070005")
                                          .Property(7, "strange", "hint")
                                          .Line("property 1 nul = a\\0b")
                                          .Line("property 1 lone = \\uD800!"));
  ASSERT_TRUE(filter);
  const std::vector<BagEntry> bag = ReadBag(filter.Get());
  ASSERT_EQ(bag.size(), 9u);
  EXPECT_EQ(bag[0].text, L"1999") << "repeated names each reach their own value";
  EXPECT_EQ(bag[1].text, L"2001");
  EXPECT_TRUE(bag[2].nullName);
  EXPECT_EQ(bag[2].text, L"nameless");
  EXPECT_EQ(bag[3].type, VT_I4);
  EXPECT_EQ(bag[3].number, 42);
  EXPECT_EQ(bag[4].type, VT_BSTR);
  EXPECT_EQ(bag[4].text, L"");
  EXPECT_EQ(bag[5].result, E_ACCESSDENIED);
  EXPECT_EQ(bag[5].type, VT_EMPTY);
  EXPECT_EQ(bag[6].hint, 7u);
  EXPECT_EQ(bag[7].text, std::wstring(L"a\0b", 3)) << "embedded NULs reach the reader";
  EXPECT_EQ(bag[8].text, std::wstring({wchar_t(0xD800), L'!'}));
}

TEST_F(StandInProperties, DescriptionsCanBeFetchedInPartsAndUnknownNamesFailAlone) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("parts").Title("t").Description("d").Date(5));
  ASSERT_TRUE(filter);
  ComPtr<IPropertyBag2> bag;
  ASSERT_EQ(filter.As(&bag), S_OK);
  PROPBAG2 descriptions[3] = {};
  ULONG returned = 0;
  ASSERT_EQ(bag->GetPropertyInfo(2, 3, descriptions, &returned), S_OK);
  ASSERT_EQ(returned, 1u);
  EXPECT_EQ(std::wstring(descriptions[0].pstrName), L"date");
  CoTaskMemFree(descriptions[0].pstrName);
  EXPECT_EQ(bag->GetPropertyInfo(4, 1, descriptions, &returned), E_INVALIDARG);

  PROPBAG2 asked[2] = {};
  asked[0].pstrName = const_cast<LPOLESTR>(L"description");
  asked[1].pstrName = const_cast<LPOLESTR>(L"nonexistent");
  VARIANT values[2];
  HRESULT results[2] = {};
  ASSERT_EQ(bag->Read(2, asked, nullptr, values, results), S_OK);
  EXPECT_EQ(results[0], S_OK);
  EXPECT_EQ(std::wstring(values[0].bstrVal), L"d");
  EXPECT_TRUE(FAILED(results[1]));
  EXPECT_EQ(values[1].vt, VT_EMPTY);
  VariantClear(&values[0]);
  EXPECT_EQ(bag->Write(0, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(bag->LoadObject(L"x", 0, nullptr, nullptr), E_NOTIMPL);
}

TEST_F(StandInProperties, BagFaults) {
  ComPtr<IBaseFilter> reading =
      Loaded(CatalogVideo("readfail").Title("t").Fault("property_read_fails"));
  ASSERT_TRUE(reading);
  const std::vector<BagEntry> bag = ReadBag(reading.Get());
  ASSERT_EQ(bag.size(), 1u);
  EXPECT_EQ(bag[0].result, E_FAIL);

  ComPtr<IBaseFilter> counting =
      Loaded(CatalogVideo("countfail").Title("t").Fault("property_count_fails = 0x8000FFFF"));
  ComPtr<IPropertyBag2> counted;
  ASSERT_EQ(counting.As(&counted), S_OK);
  ULONG count = 0;
  EXPECT_EQ(counted->CountProperties(&count), E_UNEXPECTED);

  ComPtr<IBaseFilter> describing =
      Loaded(CatalogVideo("infofail").Title("t").Fault("property_info_fails"));
  ComPtr<IPropertyBag2> described;
  ASSERT_EQ(describing.As(&described), S_OK);
  PROPBAG2 description = {};
  ULONG returned = 0;
  EXPECT_EQ(described->GetPropertyInfo(0, 1, &description, &returned), E_FAIL);

  ComPtr<IPropertyBag2> early;
  ASSERT_EQ(Create().As(&early), S_OK);
  EXPECT_EQ(early->CountProperties(&count), S_OK);
  EXPECT_EQ(count, 0u) << "nothing to tell before Load";
}

TEST_F(StandInProperties, MediaContentAnswersTitleAndDescription) {
  ComPtr<IBaseFilter> filter =
      Loaded(CatalogVideo("mc").Title("Bag title").Description("Bag text"));
  ASSERT_TRUE(filter);
  ComPtr<IAMMediaContent> content;
  ASSERT_EQ(
      filter->QueryInterface(kIidMediaContent, reinterpret_cast<void**>(content.GetAddressOf())),
      S_OK);
  BSTR text = nullptr;
  ASSERT_EQ(content->get_Title(&text), S_OK);
  EXPECT_EQ(std::wstring(text), L"Bag title");
  SysFreeString(text);
  ASSERT_EQ(content->get_Description(&text), S_OK);
  EXPECT_EQ(std::wstring(text), L"Bag text");
  SysFreeString(text);
  text = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(content->get_AuthorName(&text), E_NOTIMPL);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(content->get_MoreInfoText(&text), E_NOTIMPL);
  UINT typeInfos = 5;
  EXPECT_EQ(content->GetTypeInfoCount(&typeInfos), E_NOTIMPL);
  EXPECT_EQ(content->Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
}

TEST_F(StandInProperties, MediaContentCanDifferFromTheBagOrStandAlone) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("mc2")
                                          .Line("property_bag = none")
                                          .Title("")
                                          .Line("media_description = Only \\u00e9 here"));
  ASSERT_TRUE(filter);
  EXPECT_TRUE(ReadBag(filter.Get()).empty());
  ComPtr<IAMMediaContent> content;
  ASSERT_EQ(
      filter->QueryInterface(kIidMediaContent, reinterpret_cast<void**>(content.GetAddressOf())),
      S_OK);
  BSTR text = nullptr;
  ASSERT_EQ(content->get_Title(&text), S_OK);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 0u);
  SysFreeString(text);
  ASSERT_EQ(content->get_Description(&text), S_OK);
  EXPECT_EQ(std::wstring(text), L"Only \u00e9 here");
  SysFreeString(text);

  ComPtr<IBaseFilter> untitled = Loaded(CatalogVideo("mc3"));
  ASSERT_EQ(untitled->QueryInterface(kIidMediaContent,
                                     reinterpret_cast<void**>(content.ReleaseAndGetAddressOf())),
            S_OK);
  EXPECT_TRUE(FAILED(content->get_Title(&text)));
  EXPECT_EQ(text, nullptr);
}

}  // namespace
}  // namespace kavo::test
