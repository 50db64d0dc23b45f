#include "standin/property_bag.h"

#include <oleauto.h>

#include <cwchar>

namespace kavo::standin {
namespace {

VARTYPE TypeOf(const BagProperty& property) {
  switch (property.kind) {
    case ValueKind::Int32:
      return VT_I4;
    case ValueKind::Int64:
      return VT_I8;
    case ValueKind::Empty:
      return VT_EMPTY;
    default:
      return VT_BSTR;
  }
}

bool SameName(const PROPBAG2& description, const BagProperty& property) {
  if (!description.pstrName) return property.nullName;
  return !property.nullName && property.name == description.pstrName;
}

const BagProperty* Find(const std::vector<BagProperty>& properties, const PROPBAG2* descriptions,
                        ULONG index) {
  ULONG earlier = 0;
  for (ULONG i = 0; i < index; ++i) {
    const bool bothNull = !descriptions[i].pstrName && !descriptions[index].pstrName;
    const bool sameText = descriptions[i].pstrName && descriptions[index].pstrName &&
                          std::wcscmp(descriptions[i].pstrName, descriptions[index].pstrName) == 0;
    if (bothNull || sameText) ++earlier;
  }
  for (const BagProperty& property : properties) {
    if (!SameName(descriptions[index], property)) continue;
    if (earlier-- == 0) return &property;
  }
  return nullptr;
}

HRESULT Fill(const BagProperty& property, VARIANT& value) {
  VariantInit(&value);
  switch (property.kind) {
    case ValueKind::Int32:
      value.vt = VT_I4;
      value.lVal = static_cast<LONG>(property.number);
      return S_OK;
    case ValueKind::Int64:
      value.vt = VT_I8;
      value.llVal = property.number;
      return S_OK;
    case ValueKind::Empty:
      return S_OK;
    case ValueKind::NullString:
      value.vt = VT_BSTR;
      value.bstrVal = nullptr;
      return S_OK;
    case ValueKind::String:
      break;
  }
  // Embedded NULs stay: the reader is the one to cut at the first.
  value.bstrVal = SysAllocStringLen(property.text.data(), static_cast<UINT>(property.text.size()));
  if (!value.bstrVal) return E_OUTOFMEMORY;
  value.vt = VT_BSTR;
  return S_OK;
}

}  // namespace

HRESULT DescribeProperties(const std::vector<BagProperty>& properties, ULONG from, ULONG count,
                           PROPBAG2* descriptions, ULONG* returned) {
  if (!descriptions || !returned) return E_POINTER;
  *returned = 0;
  if (from > properties.size()) return E_INVALIDARG;
  ULONG done = 0;
  for (size_t i = from; i < properties.size() && done < count; ++i, ++done) {
    const BagProperty& property = properties[i];
    PROPBAG2& description = descriptions[done];
    description = PROPBAG2();
    description.dwType = PROPBAG2_TYPE_DATA;
    description.vt = TypeOf(property);
    description.dwHint = property.hint;
    if (property.nullName) continue;
    const size_t bytes = (property.name.size() + 1) * sizeof(wchar_t);
    description.pstrName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!description.pstrName) {
      for (ULONG j = 0; j < done; ++j) CoTaskMemFree(descriptions[j].pstrName);
      return E_OUTOFMEMORY;
    }
    std::wmemcpy(description.pstrName, property.name.c_str(), property.name.size() + 1);
  }
  *returned = done;
  return S_OK;
}

HRESULT ReadProperties(const std::vector<BagProperty>& properties, ULONG count,
                       const PROPBAG2* descriptions, VARIANT* values, HRESULT* results,
                       bool failWhenAnyFails) {
  if (!descriptions || !values) return E_POINTER;
  bool anyFailed = false;
  for (ULONG i = 0; i < count; ++i) {
    const BagProperty* property = Find(properties, descriptions, i);
    HRESULT result = E_INVALIDARG;
    VariantInit(&values[i]);
    if (property) result = FAILED(property->result) ? property->result : Fill(*property, values[i]);
    anyFailed = anyFailed || FAILED(result);
    if (results) results[i] = result;
  }
  return failWhenAnyFails && anyFailed ? E_FAIL : S_OK;
}

}  // namespace kavo::standin
