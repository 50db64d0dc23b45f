// Read throughput of a host access against the reader it reads, side by side in one run: a
// generated container of 1 GiB read through the access's read callback and through SyncRead
// directly, block by block in turns, with host reads of 32 KiB and 1 MiB; once with the stand-in
// source filter's reader behind an open access, once with the platform's own async file reader
// on the same file behind the plug-in's callbacks. The last line reads "read ratio: <lowest
// ratio>" (access over direct, the median of the blocks' ratios; 1.0 means no cost).
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <functional>

#include "core_recorder.h"
#include "host_emulator.h"
#include "reader_access.h"
#include "standin_client.h"

using namespace kavo::test;
using Microsoft::WRL::ComPtr;

namespace {

constexpr long long kSize = 1LL << 30;

bool WriteBigContainer(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::string chunk = PatternBytes(1 << 20, 3);
  bool ok = true;
  for (long long written = 0; ok && written < kSize; written += chunk.size()) {
    DWORD count = 0;
    ok = WriteFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &count, nullptr) &&
         count == chunk.size();
  }
  CloseHandle(file);
  return ok;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The platform's own async file reader on the file at path.
ComPtr<IAsyncReader> PlatformReader(const std::wstring& path, ComPtr<IBaseFilter>& filter) {
  ComPtr<IFileSourceFilter> file;
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> pin;
  ComPtr<IAsyncReader> reader;
  AM_MEDIA_TYPE type = {};
  type.majortype = MEDIATYPE_Stream;
  if (FAILED(CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(filter.GetAddressOf()))) ||
      FAILED(filter.As(&file)) || FAILED(file->Load(path.c_str(), &type)) ||
      FAILED(filter->EnumPins(pins.GetAddressOf())) ||
      pins->Next(1, pin.GetAddressOf(), nullptr) != S_OK || FAILED(pin.As(&reader)))
    return nullptr;
  return reader;
}

// One side of the comparison: a host access's seek and read.
struct HostSide {
  std::function<int(std::uint64_t)> seek;
  std::function<long long(void*, size_t)> read;
};

struct Totals {
  double accessSeconds = 0;
  double directSeconds = 0;
  long long bytes = 0;
  std::vector<double> ratios;  // each block's direct time over its access time
};

// Reads the whole container block by block, each block once through the access and once
// directly, the two taking turns to go first. Slow drifts of the machine (other processes, the
// page cache) then fall on both sides alike, and a burst of another process's work spoils a few
// blocks' ratios, not the median of them all.
bool Measure(const HostSide& access, IAsyncReader* reader, size_t chunk, Totals& totals) {
  constexpr long long kBlock = 8LL << 20;
  std::vector<char> buffer(chunk);
  for (long long block = 0; block < kSize; block += kBlock) {
    const long long end = std::min(kSize, block + kBlock);
    double seconds[2] = {};  // through the access, directly
    for (int turn = 0; turn < 2; ++turn) {
      const bool throughAccess = (turn == 0) == ((block / kBlock) % 2 == 0);
      long long position = block;
      const auto start = std::chrono::steady_clock::now();
      if (throughAccess) {
        access.seek(static_cast<std::uint64_t>(block));
        while (position < end) {
          const long long got = access.read(buffer.data(), chunk);
          if (got <= 0) return false;
          position += got;
        }
      } else {
        while (position < end) {
          if (FAILED(reader->SyncRead(position, static_cast<LONG>(chunk),
                                      reinterpret_cast<BYTE*>(buffer.data()))))
            return false;
          position += static_cast<long long>(chunk);
        }
      }
      seconds[throughAccess ? 0 : 1] = Seconds(std::chrono::steady_clock::now() - start);
    }
    totals.accessSeconds += seconds[0];
    totals.directSeconds += seconds[1];
    totals.ratios.push_back(seconds[1] / seconds[0]);
    totals.bytes += end - block;
  }
  return true;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (!EnsureStandInRegistered()) {
    std::puts("stand-in source filter not registered");
    return 1;
  }
  Catalog catalog;
  if (!catalog.Add(CatalogVideo("big")) ||
      !WriteBigContainer(catalog.Root() + L"\\big\\container.bin")) {
    std::puts("cannot write the 1 GiB container");
    return 1;
  }
  // A host has its core library loaded before it loads any module.
  CoreRecorder core;
  HostEmulator host(HostKind::V30Release);
  if (!core.Load() || !host.Load()) {
    std::puts("cannot load libvlccore.dll (the recorder) or libkavo_plugin.dll");
    return 1;
  }
  const std::wstring wide = WatchAddress("big");
  const std::string location(wide.begin(), wide.end());
  auto access = host.NewAccess(location);
  ComPtr<IBaseFilter> standIn;
  ComPtr<IBaseFilter> platform;
  const ComPtr<IAsyncReader> standInReader = LoadedStandInReader("big", standIn);
  const ComPtr<IAsyncReader> platformReader =
      PlatformReader(catalog.Root() + L"\\big\\container.bin", platform);
  if (access->Open() != 0 || !standInReader || !platformReader) {
    std::puts("cannot open the container");
    return 1;
  }
  ReaderAccess platformAccess(HostKind::V30Release, platformReader.Get());
  const HostSide sides[2] = {
      {[&](std::uint64_t at) { return access->Seek(at); },
       [&](void* buffer, size_t length) { return access->Read(buffer, length); }},
      {[&](std::uint64_t at) { return platformAccess.Seek(at); },
       [&](void* buffer, size_t length) { return platformAccess.Read(buffer, length); }},
  };
  IAsyncReader* const readers[2] = {standInReader.Get(), platformReader.Get()};
  const char* const names[2] = {"stand-in reader", "platform reader"};

  double lowest = 1e9;
  for (int side = 0; side < 2; ++side) {
    std::printf("%s:\n", names[side]);
    for (size_t chunk : {size_t{32} << 10, size_t{1} << 20}) {
      Totals totals;
      // Three passes over the whole GiB; the first also warms the page cache for both sides.
      for (int pass = 0; pass < 3; ++pass) {
        if (!Measure(sides[side], readers[side], chunk, totals)) {
          std::puts("a read pass failed");
          return 1;
        }
      }
      const double accessRate = totals.bytes / totals.accessSeconds;
      const double directRate = totals.bytes / totals.directSeconds;
      std::sort(totals.ratios.begin(), totals.ratios.end());
      const double ratio = totals.ratios[totals.ratios.size() / 2];
      lowest = std::min(lowest, ratio);
      std::printf(
          "%7zu KiB reads: access %8.1f MiB/s, direct %8.1f MiB/s, ratio %.3f (median of %zu "
          "blocks; %.3f over the totals)\n",
          chunk >> 10, accessRate / (1 << 20), directRate / (1 << 20), ratio, totals.ratios.size(),
          accessRate / directRate);
    }
  }
  access->Close();
  std::printf("read ratio: %.3f\n", lowest);
  CoUninitialize();
  return 0;
}
