#include "meta/metadata_reader.h"

#include <ocidl.h>
#include <oleauto.h>
#include <qnetwork.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <limits>
#include <vector>

#include "common/bstr.h"
#include "common/query.h"
#include "common/text.h"
#include "source/source_filter.h"

namespace kavo {

namespace {

using Microsoft::WRL::ComPtr;

constexpr DWORD kHintNumber = 0;
constexpr DWORD kHintText = 1;
constexpr DWORD kHintTextToo = 2;
constexpr int kFormatBufferSize = 1024;

// Property descriptions whose names, allocated by the bag, are freed on every path.
class PropertyInfos {
 public:
  explicit PropertyInfos(ULONG count) : infos_(count, PROPBAG2{}) {}
  PropertyInfos(const PropertyInfos&) = delete;
  PropertyInfos& operator=(const PropertyInfos&) = delete;
  ~PropertyInfos() { FreeNames(); }

  PROPBAG2* data() { return infos_.data(); }
  const PROPBAG2& operator[](ULONG i) const { return infos_[i]; }

  void FreeNames() {
    for (PROPBAG2& info : infos_) {
      CoTaskMemFree(info.pstrName);
      info.pstrName = nullptr;
    }
  }

 private:
  std::vector<PROPBAG2> infos_;
};

class Variants {
 public:
  explicit Variants(ULONG count) : values_(count) {
    for (VARIANT& value : values_) VariantInit(&value);
  }
  Variants(const Variants&) = delete;
  Variants& operator=(const Variants&) = delete;
  ~Variants() {
    for (VARIANT& value : values_) VariantClear(&value);
  }

  VARIANT* data() { return values_.data(); }
  const VARIANT& operator[](ULONG i) const { return values_[i]; }

 private:
  std::vector<VARIANT> values_;
};

// The string a property delivered, or false when it is not a string at all.
bool StringValue(const VARIANT& value, std::wstring& text) {
  if (value.vt != VT_BSTR) return false;
  text = value.bstrVal ? std::wstring(value.bstrVal) : std::wstring();
  return true;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool IsSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Leading white space, an optional sign, then digits up to the first other character; no digits
// give 0, and a value out of range saturates.
std::int64_t ParseSigned64(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 63
               : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t magnitude = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - L'0');
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                               : -static_cast<std::int64_t>(magnitude);
}

// A timestamp in seconds since 1970 (UTC): positive gives date and time, negative the date alone,
// and the year comes with either. Zero, or a time the C runtime cannot convert, gives nothing.
void StoreDateAndYear(const std::wstring& value, MetadataRecord& record) {
  const std::int64_t timestamp = ParseSigned64(value);
  if (timestamp == 0) return;
  const bool withTime = timestamp > 0;
  // The most negative value has no positive counterpart; it stays negative and fails below.
  const __time64_t magnitude = timestamp == std::numeric_limits<std::int64_t>::min()
                                   ? timestamp
                                   : (timestamp < 0 ? -timestamp : timestamp);

  struct tm local {};
  if (_localtime64_s(&local, &magnitude) != 0) return;

  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(local.tm_year + 1900);
  time.wMonth = static_cast<WORD>(local.tm_mon + 1);
  time.wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time.wDay = static_cast<WORD>(local.tm_mday);
  time.wHour = static_cast<WORD>(local.tm_hour);
  time.wMinute = static_cast<WORD>(local.tm_min);
  time.wSecond = static_cast<WORD>(local.tm_sec);
  time.wMilliseconds = 0;

  wchar_t buffer[kFormatBufferSize] = {};
  std::wstring text;
  if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &time, nullptr, buffer,
                     kFormatBufferSize) != 0) {
    text = buffer;
  }
  if (withTime &&
      GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, buffer, kFormatBufferSize) != 0) {
    if (!text.empty()) text += L' ';
    text += buffer;
  }
  if (!text.empty()) record["date"] = WideToUtf8(text);
  record["year"] = DecimalString(local.tm_year + 1900);
}

void ReadMediaContent(IBaseFilter* filter, MetadataRecord& record, bool wantTitle,
                      bool wantDescription) {
  if (!filter || (!wantTitle && !wantDescription)) return;
  ComPtr<IAMMediaContent> content;
  if (FAILED(Query(filter, kIidMediaContent, content))) return;
  if (wantTitle) {
    Bstr title;
    if (SUCCEEDED(content->get_Title(title.Receive()))) record["title"] = WideToUtf8(title.Text());
  }
  Bstr description;
  if (wantDescription && SUCCEEDED(content->get_Description(description.Receive()))) {
    record["description"] = WideToUtf8(description.Text());
  }
}

// The bag's properties into record; returns how many were read, and adds to `unread` the name of
// each property the bag lists but did not deliver.
ULONG ReadBag(IBaseFilter* filter, MetadataRecord& record, std::vector<std::wstring>& unread) {
  if (!filter) return 0;
  ComPtr<IPropertyBag2> bag;
  if (FAILED(Query(filter, IID_IPropertyBag2, bag))) return 0;

  ULONG count = 0;
  if (FAILED(bag->CountProperties(&count)) || count == 0) return 0;

  PropertyInfos infos(count);
  ULONG returned = 0;
  if (FAILED(bag->GetPropertyInfo(0, count, infos.data(), &returned)) || returned == 0) {
    return 0;
  }
  // A bag that claims more than it was asked for has not filled the rest.
  if (returned > count) returned = count;

  // A bag's Read may fail as a whole and still have delivered some properties: each property
  // counts by its own result, and one the bag never wrote stays at a failure. Wine's bag stops at
  // the first property it cannot read, after filling those before it, so after a failed Read each
  // property not yet delivered is asked for on its own.
  Variants values(returned);
  std::vector<HRESULT> results(returned, E_FAIL);
  if (FAILED(bag->Read(returned, infos.data(), nullptr, values.data(), results.data()))) {
    for (ULONG i = 0; i < returned; ++i) {
      if (SUCCEEDED(results[i])) continue;
      VariantClear(values.data() + i);
      results[i] = E_FAIL;
      bag->Read(1, infos.data() + i, nullptr, values.data() + i, &results[i]);
    }
  }

  std::vector<std::wstring> names;
  names.reserve(returned);
  for (ULONG i = 0; i < returned; ++i) {
    names.push_back(infos[i].pstrName ? std::wstring(infos[i].pstrName) : std::wstring());
  }
  infos.FreeNames();

  ULONG readCount = 0;
  for (ULONG i = 0; i < returned; ++i) {
    if (FAILED(results[i])) {
      unread.push_back(names[i]);
      continue;
    }
    ++readCount;
    const DWORD hint = infos[i].dwHint;
    std::wstring value;
    if (hint == kHintText || hint == kHintTextToo) {
      if (StringValue(values[i], value)) record[WideToUtf8(names[i])] = WideToUtf8(value);
    } else if (hint == kHintNumber && names[i] == L"date") {
      if (StringValue(values[i], value)) StoreDateAndYear(value, record);
    }
  }
  return readCount;
}

}  // namespace

bool ReadPropertyBagMetadata(IBaseFilter* filter, MetadataRecord& record) {
  std::vector<std::wstring> unread;
  return ReadBag(filter, record, unread) != 0;
}

void ReadFilterMetadata(ComPtr<IBaseFilter> filter, MetadataRecord& record) {
  // Whatever happens below, the reference is gone when this returns, not when the caller's
  // argument is destroyed.
  struct Consumed {
    ComPtr<IBaseFilter>& filter;
    ~Consumed() { filter.Reset(); }
  } consumed{filter};

  // The other interface stands in for a bag that gave nothing, and for a title or description the
  // bag has but could not deliver; what the bag gave stays.
  std::vector<std::wstring> unread;
  const bool anyRead = ReadBag(filter.Get(), record, unread) != 0;
  const auto wanted = [&](const wchar_t* name, const char* key) {
    return record.count(key) == 0 &&
           (!anyRead || std::find(unread.begin(), unread.end(), name) != unread.end());
  };
  ReadMediaContent(filter.Get(), record, wanted(L"title", "title"),
                   wanted(L"description", "description"));
}

ULONG QueryStartOffset(IBaseFilter* filter, const std::wstring& address) noexcept {
  constexpr ULONG kFirstVersionWithStartOffset = 5;
  if (!filter) return 0;
  ComPtr<ISourceControl> control;
  if (FAILED(Query(filter, IID_ISourceControl, control))) return 0;
  if (control->GetVersion() < kFirstVersionWithStartOffset) return 0;
  return control->GetStartOffset(address.c_str());
}

}  // namespace kavo
