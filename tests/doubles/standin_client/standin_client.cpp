#include "standin_client.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace kavo::test {
namespace {

HMODULE StandInModule() {
  static const HMODULE module = LoadLibraryW(L"kavo_standin_source.dll");
  return module;
}

template <typename Function>
Function Export(const char* name) {
  const HMODULE module = StandInModule();
  return module ? reinterpret_cast<Function>(GetProcAddress(module, name)) : nullptr;
}

std::string Hex(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

// Like EscapeCatalogText, but also for blanks and '=' anywhere: names are single tokens.
std::string EscapeToken(const std::string& bytes) {
  std::string escaped;
  for (unsigned char c : bytes) {
    if (c == ' ' || c == '\t' || c == '=' || c == '#') {
      escaped += Hex(c);
    } else {
      escaped += EscapeCatalogText(std::string(1, char(c)));
    }
  }
  return escaped;
}

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

std::string TrackFile(const CatalogTrack& track) {
  std::string text;
  if (!track.name.empty()) text += "name = " + EscapeCatalogText(track.name) + "\n";
  if (!track.language.empty()) text += "language = " + EscapeCatalogText(track.language) + "\n";
  if (track.neverEnds) text += "never_ends\n";
  for (const std::string& line : track.lines) text += line + "\n";
  for (const CatalogCue& cue : track.cues) {
    text += std::to_string(cue.startMs) + " " + std::to_string(cue.stopMs) + " " +
            EscapeCatalogText(cue.text) + "\n";
  }
  return text;
}

}  // namespace

bool EnsureStandInRegistered() {
  static const bool registered = [] {
    using Register = HRESULT(STDAPICALLTYPE*)();
    const auto registerServer = Export<Register>("DllRegisterServer");
    return registerServer && SUCCEEDED(registerServer());
  }();
  return registered;
}

bool RegisterStandInAndLetItGo() {
  const HMODULE module = LoadLibraryW(L"kavo_standin_source.dll");
  if (!module) return false;
  using Register = HRESULT(STDAPICALLTYPE*)();
  const auto registerServer =
      reinterpret_cast<Register>(GetProcAddress(module, "DllRegisterServer"));
  const bool registered = registerServer && SUCCEEDED(registerServer());
  FreeLibrary(module);
  return registered;
}

StandInUnregistered::StandInUnregistered() {
  using Unregister = HRESULT(STDAPICALLTYPE*)();
  const auto unregisterServer = Export<Unregister>("DllUnregisterServer");
  done_ = EnsureStandInRegistered() && unregisterServer && SUCCEEDED(unregisterServer());
}

StandInUnregistered::~StandInUnregistered() {
  using Register = HRESULT(STDAPICALLTYPE*)();
  if (const auto registerServer = Export<Register>("DllRegisterServer")) registerServer();
}

void StandIn::Reset() {
  if (auto reset = Export<void (*)()>("standin_Reset")) reset();
}

void StandIn::SetCreateFailure(HRESULT result) {
  if (auto set = Export<void (*)(HRESULT)>("standin_SetCreateFailure")) set(result);
}

void StandIn::SetVersion(ULONG version) {
  if (auto set = Export<void (*)(ULONG)>("standin_SetVersion")) set(version);
}

void StandIn::SetNormalizeResult(HRESULT result, const wchar_t* normalized) {
  if (auto set = Export<void (*)(HRESULT, const wchar_t*)>("standin_SetNormalizeResult")) {
    set(result, normalized);
  }
}

void StandIn::SetHiddenInterfaces(unsigned hidden) {
  if (auto set = Export<void (*)(unsigned)>("standin_SetHiddenInterfaces")) set(hidden);
}

long StandIn::LiveObjects() {
  auto count = Export<long (*)()>("standin_LiveObjects");
  return count ? count() : -1;
}

long StandIn::FiltersCreated() {
  auto count = Export<long (*)()>("standin_FiltersCreated");
  return count ? count() : -1;
}

long long StandIn::LastEndOfStream() {
  auto last = Export<long long (*)()>("standin_LastEndOfStream");
  return last ? last() : 0;
}

long StandIn::CallsOutsideCom() {
  auto count = Export<long (*)()>("standin_CallsOutsideCom");
  return count ? count() : -1;
}

std::string StandIn::LastLoadError() {
  auto error = Export<int (*)(char*, int)>("standin_LastLoadError");
  if (!error) return "stand-in DLL not found";
  const int length = error(nullptr, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  error(&text[0], length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

Microsoft::WRL::ComPtr<IAsyncReader> LoadedStandInReader(
    const std::string& id, Microsoft::WRL::ComPtr<IBaseFilter>& filter, int pin) {
  Microsoft::WRL::ComPtr<IFileSourceFilter> file;
  Microsoft::WRL::ComPtr<IEnumPins> pins;
  Microsoft::WRL::ComPtr<IPin> output;
  Microsoft::WRL::ComPtr<IAsyncReader> reader;
  if (FAILED(CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                              reinterpret_cast<void**>(filter.ReleaseAndGetAddressOf()))) ||
      FAILED(filter.As(&file)) || FAILED(file->Load(WatchAddress(id).c_str(), nullptr)) ||
      FAILED(filter->EnumPins(pins.GetAddressOf())) || FAILED(pins->Skip(pin)) ||
      pins->Next(1, output.GetAddressOf(), nullptr) != S_OK ||
      FAILED(output->QueryInterface(IID_IAsyncReader,
                                    reinterpret_cast<void**>(reader.GetAddressOf()))))
    return nullptr;
  return reader;
}

std::wstring WatchAddress(const std::string& id) {
  return L"video.example/watch?v=" + std::wstring(id.begin(), id.end());
}

std::wstring CanonicalAddress(const std::string& id) {
  return L"https://video.example/watch?v=" + std::wstring(id.begin(), id.end());
}

std::string PatternBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = 2463534242u ^ (seed * 2654435761u);
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state & 0xFF);
  }
  return bytes;
}

std::string EscapeCatalogText(const std::string& bytes) {
  std::string escaped;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const bool edge = i == 0 || i + 1 == bytes.size();
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c < 0x20 || c == 0x7F || (edge && c == ' ')) {
      escaped += Hex(c);
    } else {
      escaped += char(c);
    }
  }
  return escaped;
}

CatalogTrack::CatalogTrack(std::string trackName, std::string trackLanguage)
    : name(std::move(trackName)), language(std::move(trackLanguage)) {}

CatalogTrack& CatalogTrack::Cue(std::int64_t startMs, std::int64_t stopMs, std::string text) {
  cues.push_back(CatalogCue{startMs, stopMs, std::move(text)});
  return *this;
}

CatalogTrack& CatalogTrack::NeverEnds() {
  neverEnds = true;
  return *this;
}

CatalogTrack& CatalogTrack::Line(std::string line) {
  lines.push_back(std::move(line));
  return *this;
}

CatalogVideo::CatalogVideo(std::string videoId)
    : id(std::move(videoId)), container(PatternBytes(4096)) {}

CatalogVideo& CatalogVideo::Container(std::string bytes) {
  container = std::move(bytes);
  return *this;
}

CatalogVideo& CatalogVideo::Audio(std::string bytes) {
  audio = std::move(bytes);
  return *this;
}

CatalogVideo& CatalogVideo::Title(const std::string& text) {
  return Line("title = " + EscapeCatalogText(text));
}

CatalogVideo& CatalogVideo::Description(const std::string& text) {
  return Line("description = " + EscapeCatalogText(text));
}

CatalogVideo& CatalogVideo::ThumbnailUrls(const std::string& text) {
  return Line("thumbnail_urls = " + EscapeCatalogText(text));
}

CatalogVideo& CatalogVideo::Date(long long timestamp) {
  return Line("date = " + std::to_string(timestamp));
}

CatalogVideo& CatalogVideo::Property(DWORD hint, const std::string& name, const std::string& value,
                                     const std::string& options) {
  std::string line = "property " + std::to_string(hint) + " " + EscapeToken(name);
  if (!options.empty()) line += " " + options;
  return Line(line + " = " + EscapeCatalogText(value));
}

CatalogVideo& CatalogVideo::NullNameProperty(DWORD hint, const std::string& value) {
  return Line("property " + std::to_string(hint) + " <null> = " + EscapeCatalogText(value));
}

CatalogVideo& CatalogVideo::Fault(const std::string& text) { return Line("fault " + text); }

CatalogVideo& CatalogVideo::Track(CatalogTrack track) {
  tracks.push_back(std::move(track));
  return *this;
}

CatalogVideo& CatalogVideo::Line(std::string line) {
  lines.push_back(std::move(line));
  return *this;
}

Catalog::Catalog() {
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  const std::wstring name =
      L"kavo-standin-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
  const std::filesystem::path root = base / name;
  std::filesystem::remove_all(root, error);
  std::filesystem::create_directories(root, error);
  root_ = root.wstring();
  wchar_t old[32768];
  const DWORD length = GetEnvironmentVariableW(L"KAVO_STANDIN_CATALOG", old, ARRAYSIZE(old));
  if (length > 0 && length < ARRAYSIZE(old)) previous_ = std::wstring(old, length);
  SetEnvironmentVariableW(L"KAVO_STANDIN_CATALOG", root_.c_str());
}

Catalog::~Catalog() {
  SetEnvironmentVariableW(L"KAVO_STANDIN_CATALOG", previous_ ? previous_->c_str() : nullptr);
  std::error_code error;
  std::filesystem::remove_all(root_, error);
}

bool Catalog::Add(const CatalogVideo& video) {
  const std::filesystem::path folder = std::filesystem::path(root_) / video.id;
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  if (!std::filesystem::create_directories(folder, error)) return false;
  std::string text = "container = container.bin\n";
  bool written = WriteFile(folder / "container.bin", video.container);
  if (video.audio) {
    text += "audio = audio.bin\n";
    written = WriteFile(folder / "audio.bin", *video.audio) && written;
  }
  for (const std::string& line : video.lines) text += line + "\n";
  for (size_t i = 0; i < video.tracks.size(); ++i) {
    const std::string file = "track" + std::to_string(i + 1) + ".txt";
    text += "subtitle = " + file + "\n";
    written = WriteFile(folder / file, TrackFile(video.tracks[i])) && written;
  }
  return WriteFile(folder / "video.txt", text) && written;
}

}  // namespace kavo::test
