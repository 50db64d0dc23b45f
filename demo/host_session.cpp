#include "host_session.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "core_recorder.h"
#include "descriptor_recorder.h"
#include "expected_video.h"
#include "host_test_support.h"
#include "standin_client.h"

namespace kavo::demo {

namespace {

using test::CoreRecorder;
using test::DescriptorRecorder;
using test::HostKind;
using test::ShapeOf;

constexpr size_t kHostReadSize = 32768;
constexpr size_t kSeekReadSize = 65536;
constexpr DWORD kSubtitleWaitMs = 10000;

// The input item as far as the plug-in looks into it: p_meta where this host keeps it.
struct FakeItem {
  alignas(8) unsigned char bytes[256] = {};
  alignas(8) unsigned char meta[256] = {};  // the item's meta record: its fields' strings first
};

// "module 263 \"DIDUZU\"" and friends, as the descriptor recorder writes them.
ModuleDescription Describe(HostKind kind) {
  ModuleDescription module;
  const test::HostLayout& layout = test::LayoutOf(kind);
  const HMODULE plugin = LoadLibraryW(L"libkavo_plugin.dll");
  if (!plugin) return module;
  using Entry = int (*)(int (*)(void*, void*, int, ...), void*);
  const auto entry = reinterpret_cast<Entry>(GetProcAddress(plugin, layout.entry));
  DescriptorRecorder recorder(layout.namedCallbacks);
  module.described = entry && entry(&DescriptorRecorder::Setter, &recorder) == 0;
  for (const std::string& line : recorder.lines) {
    if (line.rfind("module ", 0) != 0) continue;
    const int property = std::atoi(line.c_str() + 7);
    const auto quote = line.find('"');
    const std::string text =
        quote == std::string::npos ? "" : line.substr(quote + 1, line.rfind('"') - quote - 1);
    if (property == 263) module.name = text;
    if (property == 264) module.shortName = text;
    if (property == 265) module.description = text;
    if (property == 258) module.capability = text;
    if (property == 259) module.score = std::atoi(line.c_str() + 11);
    if (property == 257) {
      // "module 257 4 http,https,yshttp,yshttps"
      const std::string list = line.substr(line.rfind(' ') + 1);
      size_t start = 0;
      for (size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
        module.shortcuts.push_back(list.substr(start, comma - start));
      module.shortcuts.push_back(list.substr(start));
    }
  }
  module.openName = recorder.openName;
  module.closeName = recorder.closeName;
  return module;
}

// The arguments after the query number: numbers and quoted strings.
std::vector<std::string> ControlArguments(const std::string& line, int& query) {
  std::vector<std::string> arguments;
  const auto pointerEnd = line.find(' ', std::strlen("input_Control "));
  if (pointerEnd == std::string::npos) return arguments;
  char* end = nullptr;
  query = static_cast<int>(std::strtol(line.c_str() + pointerEnd + 1, &end, 10));
  size_t at = static_cast<size_t>(end - line.c_str());
  while (at < line.size()) {
    if (line[at] == ' ') {
      ++at;
    } else if (line[at] == '"') {
      const auto close = line.find('"', at + 1);
      if (close == std::string::npos) break;
      arguments.push_back(line.substr(at, close - at + 1));
      at = close + 1;
    } else {
      const auto space = line.find(' ', at);
      arguments.push_back(line.substr(at, space == std::string::npos ? space : space - at));
      at = space == std::string::npos ? line.size() : space;
    }
  }
  return arguments;
}

std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A host path from what the host was handed: a file URI becomes a drive path.
std::wstring LocalPath(const std::string& argument) {
  std::string path = argument;
  if (path.rfind("file:///", 0) == 0) {
    path = PercentDecoded(path.substr(8));
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
  }
  return test::Wide(path);
}

// Sorts the recorded core calls into what this host was told.
void ReadCoreCalls(const std::vector<std::string>& calls, HostSession& session) {
  for (const std::string& line : calls) {
    if (line.rfind("input_GetItem ", 0) == 0) continue;
    if (line.rfind("input_item_SetMeta ", 0) == 0) {
      const auto typeAt = line.find(' ', std::strlen("input_item_SetMeta ")) + 1;
      const auto quote = line.find('"', typeAt);
      session.meta.emplace_back(std::atoi(line.c_str() + typeAt),
                                line.substr(quote + 1, line.size() - quote - 2));
      continue;
    }
    if (line.rfind("vlc_meta_AddExtra ", 0) == 0) {
      const auto keyAt = line.find('"') + 1;
      const auto keyEnd = line.find("\" \"", keyAt);
      session.extras.emplace_back(line.substr(keyAt, keyEnd - keyAt),
                                  line.substr(keyEnd + 3, line.size() - keyEnd - 4));
      continue;
    }
    if (line.rfind("var_SetChecked ", 0) == 0 && line.find("\"start-time\"") != std::string::npos) {
      session.startTime = std::atof(line.c_str() + line.rfind(' ') + 1);
      continue;
    }
    int query = -1;
    const std::vector<std::string> arguments = line.rfind("input_Control ", 0) == 0
                                                   ? ControlArguments(line, query)
                                                   : std::vector<std::string>();
    std::string quoted;
    for (const std::string& argument : arguments) {
      if (argument.size() >= 2 && argument.front() == '"')
        quoted = argument.substr(1, argument.size() - 2);
    }
    if (quoted.empty()) {
      session.unexplained.push_back(line);
    } else if (quoted.size() > 12 && quoted.compare(quoted.size() - 12, 12, "&vlc_slave=1") == 0) {
      session.slave = SlaveOffer();
      session.slave->query = query;
      session.slave->address = quoted;
    } else {
      SubtitleOffer offer;
      offer.query = query;
      offer.argument = quoted;
      offer.path = LocalPath(quoted);
      session.subtitles.push_back(offer);
    }
  }
}

}  // namespace

const char* HostTitle(HostKind kind) {
  switch (kind) {
    case HostKind::V22:
      return "VLC 2.2";
    case HostKind::V30Development:
      return "VLC 3.0 development build";
    default:
      return "VLC 3.0.x release";
  }
}

HostSession PlayThroughHost(HostKind kind, const std::string& scheme, const std::string& location,
                            size_t tracks) {
  HostSession session;
  session.kind = kind;
  session.module = Describe(kind);

  CoreRecorder recorder;
  test::HostEmulator host(kind);
  if (!recorder.Load() || !host.Load()) return session;

  FakeItem item;
  void* const meta = item.meta;
  std::memcpy(item.bytes + host.layout().itemMeta, &meta, sizeof meta);
  char input[64] = {};
  recorder.Reset(ShapeOf(kind), item.bytes);

  auto main = host.NewAccess(location, input, scheme.c_str());
  session.openResult = main->Open();
  if (session.openResult != 0) return session;
  main->Control(6, &session.size);
  session.bytes = main->ReadToEnd(kHostReadSize);
  session.seekOffset = session.size / 2;
  main->Seek(session.seekOffset);
  session.seekBytes.resize(kSeekReadSize);
  const long long got = main->Read(&session.seekBytes[0], kSeekReadSize);
  session.seekBytes.resize(got > 0 ? static_cast<size_t>(got) : 0);

  recorder.WaitUntil(
      [&] {
        HostSession seen;
        ReadCoreCalls(recorder.Calls(), seen);
        return seen.subtitles.size() >= tracks;
      },
      kSubtitleWaitMs);
  ReadCoreCalls(recorder.Calls(), session);

  std::unique_ptr<test::Access> slave;
  if (session.slave) {
    const auto schemeEnd = session.slave->address.find("://");
    const std::string slaveScheme = session.slave->address.substr(0, schemeEnd);
    slave =
        host.NewAccess(session.slave->address.substr(schemeEnd + 3), input, slaveScheme.c_str());
    session.slave->openResult = slave->Open();
    if (session.slave->openResult == 0) {
      slave->Control(6, &session.slave->size);
      session.slave->bytes = slave->ReadToEnd(kHostReadSize);
    }
  }
  for (SubtitleOffer& offer : session.subtitles) {
    offer.readable = ReadWholeFile(offer.path, offer.bytes);
  }

  if (slave && slave->open()) slave->Close();
  main->Close();
  session.liveObjectsAfterClose = test::StandIn::LiveObjects();
  return session;
}

}  // namespace kavo::demo
