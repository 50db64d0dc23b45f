#include "filters/subtitle_renderer.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <exception>

#include "common/text.h"

namespace kavo {

namespace {

constexpr REFERENCE_TIME kUnitsPerMillisecond = 10000;
const wchar_t kFilePrefix[] = L"durud_subs";

// A separator in a track name would lead the file out of the temporary folder, a colon would write
// the text into an alternate stream of another file, leaving an empty file behind, and the other
// characters Windows refuses in a name (control characters too) would lose the track's file.
std::wstring FileSuffix(std::wstring name) {
  std::replace_if(
      name.begin(), name.end(),
      [](wchar_t c) { return c < 32 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr; }, L'_');
  if (!name.empty()) name += L".";
  return name + L"srt";
}

}  // namespace

CSubtitleRenderer::CSubtitleRenderer(HRESULT* result, const std::wstring& trackName,
                                     const AM_MEDIA_TYPE& accepted)
    : CBaseRenderer(CLSID_SubtitleRenderer, nullptr, result), fileSuffix(FileSuffix(trackName)) {
  const HRESULT copied = accepted_.Set(accepted);
  if (FAILED(copied) && result) *result = copied;
}

CSubtitleRenderer::~CSubtitleRenderer() = default;

HRESULT CSubtitleRenderer::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_ISubtitleRenderer) return GetInterface(static_cast<ISubtitleRenderer*>(this), out);
  return CBaseRenderer::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP CSubtitleRenderer::GetFilePath(BSTR* path) {
  if (!path) return E_POINTER;
  *path = nullptr;
  boost::shared_ptr<AvTempPath> file;
  {
    CAutoLock lock(&fileLock_);
    file = currentFile;
  }
  if (!file) return VFW_E_NOT_FOUND;
  BSTR copy = SysAllocStringLen(file->path.data(), static_cast<UINT>(file->path.size()));
  if (!copy) return E_OUTOFMEMORY;
  try {
    KeepTempPath(file);
  } catch (const std::exception&) {
    SysFreeString(copy);
    return E_OUTOFMEMORY;
  }
  *path = copy;
  return S_OK;
}

STDMETHODIMP CSubtitleRenderer::GetWriteResult() {
  CAutoLock lock(&fileLock_);
  return writeResult;
}

HRESULT CSubtitleRenderer::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  return SameMediaType(*type, accepted_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CSubtitleRenderer::DoRenderSample(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  const long length = sample->GetActualDataLength();
  if (length <= 0) return S_OK;
  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  try {
    const std::string bytes(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    // A success other than S_OK (no stop time, say) still comes with a usable stop value.
    hr = sample->GetTime(&start, &stop);
    if (FAILED(hr)) return hr;
    // Negative times are kept as they are: the writer decides how to show them.
    const std::int64_t startMs = start / kUnitsPerMillisecond;
    cues.push_back(
        SrtCue{startMs, stop / kUnitsPerMillisecond - startMs, Utf8ToWideReplacing(bytes)});
  } catch (const std::exception&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CSubtitleRenderer::EndOfStream() {
  WriteCueFile();
  return CBaseRenderer::EndOfStream();
}

std::vector<SrtCue> CSubtitleRenderer::Cues() {
  CAutoLock lock(&rendererLock_);
  return cues;
}

// Runs under the renderer's locks on the streaming thread; fileLock_ is taken only for the swap,
// so GetFilePath never waits for the disk.
void CSubtitleRenderer::WriteCueFile() {
  HRESULT result = E_FAIL;
  try {
    std::vector<SrtCue> sorted = cues;
    std::sort(sorted.begin(), sorted.end(),
              [](const SrtCue& a, const SrtCue& b) { return a.start_ms < b.start_ms; });
    const std::wstring text = BuildSrtText(sorted);
    if (text.empty()) {
      SetWriteResult(S_FALSE);
      return;
    }
    const std::string bytes = WideToUtf8(text);
    // The owner exists before the file does, so that nothing can fail between the two.
    boost::shared_ptr<AvTempPath> file(new AvTempPath(std::wstring()));
    file->deleteAtReboot = false;
    std::wstring path =
        WriteNewFile(bytes, [this] { return MakeUniqueTempPath(fileSuffix, kFilePrefix); });
    if (path.empty()) {
      const DWORD error = GetLastError();
      result = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    } else {
      file->path.swap(path);
      {
        CAutoLock lock(&fileLock_);
        currentFile.swap(file);
        writeResult = S_OK;
      }
      // file now holds the previous one: gone from disk here unless it was handed out.
      return;
    }
  } catch (const std::exception&) {
    // Out of memory: this end of stream leaves the previous file, if any, in place.
    result = E_OUTOFMEMORY;
  }
  SetWriteResult(result);
}

void CSubtitleRenderer::SetWriteResult(HRESULT result) {
  CAutoLock lock(&fileLock_);
  writeResult = result;
}

}  // namespace kavo
