#include "standin/catalog.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <string_view>

#include "common/text.h"
#include "standin/catalog_text.h"
#include "standin/controls.h"
#include "standin/module.h"

namespace kavo::standin {
namespace {

using Bytes = std::string_view;

// One "key = value" or "flag" line, with its tokens.
struct Entry {
  std::vector<std::string> key;
  bool hasValue = false;
  std::string value;
};

Entry SplitEntry(const std::string& line) {
  Entry entry;
  const size_t equals = line.find('=');
  entry.key = Tokens(Bytes(line).substr(0, equals));
  if (equals != std::string::npos) {
    entry.hasValue = true;
    entry.value = Trim(Bytes(line).substr(equals + 1));
  }
  return entry;
}

bool IsCommentOrBlank(const std::string& line) {
  const std::string trimmed = Trim(line);
  return trimmed.empty() || trimmed[0] == '#';
}

std::wstring Join(const std::wstring& folder, const std::string& name) {
  std::wstring relative = Utf8ToWide(name);
  for (wchar_t& c : relative) {
    if (c == L'/') c = L'\\';
  }
  return folder + L"\\" + relative;
}

class TrackReader {
 public:
  explicit TrackReader(SubtitleTrack& track) : track_(track) {}

  bool Line(const std::string& line, std::string& error) {
    if (IsCommentOrBlank(line)) return true;
    const std::string trimmed = Trim(line);
    if ((trimmed[0] >= '0' && trimmed[0] <= '9') || trimmed[0] == '-') return CueLine(line, error);
    const Entry entry = SplitEntry(line);
    if (entry.key.size() != 1) {
      error = "expected \"key = value\", a flag or a cue";
      return false;
    }
    const std::string& key = entry.key[0];
    if (key == "never_ends" && !entry.hasValue) {
      track_.neverEnds = true;
      return true;
    }
    if (key == "extra_type" && !entry.hasValue) {
      track_.extraType = true;
      return true;
    }
    if (!entry.hasValue) {
      error = "unknown flag '" + key + "'";
      return false;
    }
    if (key == "name") {
      if (!DecodeWide(entry.value, track_.name, error)) return false;
      if (track_.name.size() > 255) track_.name.resize(255);
      return true;
    }
    if (key == "language") {
      if (!DecodeBytes(entry.value, track_.language, error)) return false;
      if (track_.language.size() > 4) {
        error = "a language has at most 4 bytes";
        return false;
      }
      return true;
    }
    std::uint64_t number = 0;
    if (key == "delay_ms") {
      if (!ParseUnsigned(entry.value, number) || number > 0xFFFFFFFFull) {
        error = "'delay_ms' needs a 32-bit number";
        return false;
      }
      track_.delayMs = std::uint32_t(number);
      return true;
    }
    if (key == "offset" || key == "format_size") {
      if (!ParseUnsigned(entry.value, number) || number > 0xFFFFFFFFull) {
        error = "'" + key + "' needs a 32-bit number";
        return false;
      }
      (key == "offset" ? track_.offset : track_.formatSize) = DWORD(number);
      return true;
    }
    error = "unknown key '" + key + "'";
    return false;
  }

 private:
  // "<start_ms> <stop_ms> <text>": the text is everything after one blank behind the stop time.
  bool CueLine(const std::string& line, std::string& error) {
    const size_t begin = line.find_first_not_of(" \t");
    const size_t firstEnd = line.find_first_of(" \t", begin);
    const size_t second =
        firstEnd == std::string::npos ? firstEnd : line.find_first_not_of(" \t", firstEnd);
    if (second == std::string::npos) {
      error = "a cue needs a start and a stop time";
      return false;
    }
    const size_t secondEnd = line.find_first_of(" \t", second);
    Cue cue;
    if (!ParseSigned(line.substr(begin, firstEnd - begin), cue.startMs) ||
        !ParseSigned(line.substr(second, secondEnd == std::string::npos ? std::string::npos
                                                                        : secondEnd - second),
                     cue.stopMs)) {
      error = "cue times are whole milliseconds";
      return false;
    }
    const std::string text =
        secondEnd == std::string::npos ? std::string() : line.substr(secondEnd + 1);
    if (!DecodeBytes(text, cue.text, error)) return false;
    track_.cues.push_back(std::move(cue));
    return true;
  }

  SubtitleTrack& track_;
};

class VideoReader {
 public:
  VideoReader(const std::wstring& folder, Video& video) : folder_(folder), video_(video) {}

  bool Line(const std::string& line, std::string& error) {
    if (IsCommentOrBlank(line)) return true;
    const Entry entry = SplitEntry(line);
    if (entry.key.empty()) {
      error = "a line starts with '='";
      return false;
    }
    const std::string& key = entry.key[0];
    if (key == "property") return Property(entry, error);
    if (key == "fault") return Fault(entry, error);
    if (entry.key.size() != 1) {
      error = "unknown key '" + Trim(line.substr(0, line.find('='))) + "'";
      return false;
    }
    if (!entry.hasValue) {
      error = "'" + key + "' needs a value";
      return false;
    }
    return Setting(key, entry.value, error);
  }

  bool Finish(std::string& error) {
    if (video_.containerPath.empty()) {
      error = "no 'container' line";
      return false;
    }
    return true;
  }

 private:
  bool Setting(const std::string& key, const std::string& value, std::string& error) {
    if (key == "container") {
      video_.containerPath = Join(folder_, value);
      return true;
    }
    if (key == "audio") {
      video_.audioPath = Join(folder_, value);
      return true;
    }
    if (key == "title" || key == "description" || key == "thumbnail_urls" || key == "date") {
      BagProperty property;
      property.hint = key == "date" ? 0 : 1;
      property.name = Utf8ToWide(key);
      if (!DecodeWide(value, property.text, error)) return false;
      video_.properties.push_back(std::move(property));
      return true;
    }
    if (key == "media_title" || key == "media_description") {
      std::wstring text;
      if (!DecodeWide(value, text, error)) return false;
      (key == "media_title" ? video_.mediaTitle : video_.mediaDescription) = text;
      return true;
    }
    if (key == "media_content" || key == "property_bag" || key == "open_progress") {
      const unsigned bit = key == "media_content"  ? kHideMediaContent
                           : key == "property_bag" ? kHidePropertyBag
                                                   : kHideOpenProgress;
      if (value == "none") {
        video_.faults.hidden |= bit;
      } else if (value == "yes") {
        video_.faults.hidden &= ~bit;
      } else {
        error = "'" + key + "' is 'yes' or 'none'";
        return false;
      }
      return true;
    }
    if (key == "version") {
      std::uint64_t number = 0;
      if (!ParseUnsigned(value, number) || number > 0xFFFFFFFFull) {
        error = "'version' needs a 32-bit number";
        return false;
      }
      video_.version = ULONG(number);
      return true;
    }
    if (key == "load_ms" || key == "pause_ms" || key == "abort_ms") {
      std::uint64_t number = 0;
      if (!ParseUnsigned(value, number) || number > 0xFFFFFFFFull) {
        error = "'" + key + "' needs a 32-bit number";
        return false;
      }
      (key == "load_ms"    ? video_.loadMs
       : key == "pause_ms" ? video_.pauseMs
                           : video_.abortMs) = static_cast<std::uint32_t>(number);
      return true;
    }
    if (key == "subtitle") return Subtitle(value, error);
    error = "unknown key '" + key + "'";
    return false;
  }

  // property <hint> <name> [as:string|as:null|as:i4|as:i8|as:empty] [fails[:<hresult>]] = <value>
  bool Property(const Entry& entry, std::string& error) {
    std::uint64_t hint = 0;
    if (entry.key.size() < 3 || !entry.hasValue || !ParseUnsigned(entry.key[1], hint) ||
        hint > 0xFFFFFFFFull) {
      error = "expected 'property <hint> <name> [options] = <value>'";
      return false;
    }
    BagProperty property;
    property.hint = DWORD(hint);
    property.nullName = entry.key[2] == "<null>";
    if (!property.nullName && !DecodeWide(entry.key[2], property.name, error)) return false;
    for (size_t i = 3; i < entry.key.size(); ++i) {
      const std::string& option = entry.key[i];
      if (option == "as:string") {
        property.kind = ValueKind::String;
      } else if (option == "as:null") {
        property.kind = ValueKind::NullString;
      } else if (option == "as:i4") {
        property.kind = ValueKind::Int32;
      } else if (option == "as:i8") {
        property.kind = ValueKind::Int64;
      } else if (option == "as:empty") {
        property.kind = ValueKind::Empty;
      } else if (option == "fails") {
        property.result = E_FAIL;
      } else if (option.rfind("fails:", 0) == 0) {
        if (!ParseHresult(option.substr(6), property.result) || SUCCEEDED(property.result)) {
          error = "'fails:' needs a failure HRESULT";
          return false;
        }
      } else {
        error = "unknown property option '" + option + "'";
        return false;
      }
    }
    if (property.kind == ValueKind::Int32 || property.kind == ValueKind::Int64) {
      if (!ParseSigned(entry.value, property.number) ||
          (property.kind == ValueKind::Int32 &&
           (property.number < INT32_MIN || property.number > INT32_MAX))) {
        error = "the value does not fit the property's type";
        return false;
      }
    } else if (!DecodeWide(entry.value, property.text, error)) {
      return false;
    }
    video_.properties.push_back(std::move(property));
    return true;
  }

  bool Subtitle(const std::string& file, std::string& error) {
    std::string contents;
    if (!ReadWholeFile(Join(folder_, file), contents)) {
      error = "cannot read subtitle file '" + file + "'";
      return false;
    }
    SubtitleTrack track;
    TrackReader reader(track);
    const std::vector<std::string> lines = Lines(contents);
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string why;
      if (!reader.Line(lines[i], why)) {
        error = file + " line " + std::to_string(i + 1) + ": " + why;
        return false;
      }
    }
    video_.tracks.push_back(std::move(track));
    return true;
  }

  // fault <name> [Container|Audio] [= <value>]
  bool Fault(const Entry& entry, std::string& error) {
    if (entry.key.size() < 2 || entry.key.size() > 3) {
      error = "expected 'fault <name> [Container|Audio] [= <value>]'";
      return false;
    }
    const std::string& name = entry.key[1];
    Faults& faults = video_.faults;
    if (entry.key.size() == 3) return ReaderFault(name, Lowered(entry.key[2]), entry, error);
    if (name == "no_async_reader" || name == "length_fails" || name == "length_estimated" ||
        name == "syncread_fail_at" || name == "syncread_short_at" || name == "stall_at" ||
        name == "rate_kbps" || name == "request_fails" || name == "flush_waits") {
      return ReaderFault(name, "", entry, error);
    }
    if (name == "load") {
      if (!entry.hasValue || !ParseHresult(entry.value, faults.load) || SUCCEEDED(faults.load)) {
        error = "'fault load' needs a failure HRESULT";
        return false;
      }
      return true;
    }
    if (name == "container_type" || name == "audio_type") {
      GUID& major = name == "container_type" ? faults.containerMajor : faults.audioMajor;
      if (entry.value == "stream") {
        major = MEDIATYPE_Stream;
      } else if (entry.value == "video") {
        major = MEDIATYPE_Video;
      } else if (entry.value == "audio") {
        major = MEDIATYPE_Audio;
      } else {
        error = "'" + name + "' is stream, video or audio";
        return false;
      }
      return true;
    }
    if (name == "property_count_fails" || name == "property_info_fails" ||
        name == "property_read_fails") {
      HRESULT result = E_FAIL;
      if (entry.hasValue && (!ParseHresult(entry.value, result) || SUCCEEDED(result))) {
        error = "'" + name + "' takes a failure HRESULT";
        return false;
      }
      (name == "property_count_fails"  ? faults.propertyCount
       : name == "property_info_fails" ? faults.propertyInfo
                                       : faults.propertyRead) = result;
      return true;
    }
    if (entry.hasValue) {
      error = "fault '" + name + "' takes no value";
      return false;
    }
    struct Flag {
      const char* name;
      bool* flag;
      unsigned hide;
    };
    const Flag flags[] = {
        {"no_file_source", nullptr, kHideFileSource},
        {"no_source_control", nullptr, kHideSourceControl},
        {"no_property_bag", nullptr, kHidePropertyBag},
        {"no_media_content", nullptr, kHideMediaContent},
        {"audio_stream_third", &faults.audioStreamThird, 0},
        {"query_direction", &faults.queryDirectionPin, 0},
        {"input_pin_first", &faults.inputPinFirst, 0},
        {"extra_subtitle_type", &faults.extraSubtitleType, 0},
        {"subtitle_other_type_first", &faults.subtitleTextFirst, 0},
        {"enum_out_of_sync_once", &faults.enumOutOfSyncOnce, 0},
        {"property_read_partial", &faults.propertyReadPartial, 0},
        {"audio_needs_run", &faults.audio.needsRun, 0},
    };
    for (const Flag& flag : flags) {
      if (name != flag.name) continue;
      if (flag.flag) *flag.flag = true;
      faults.hidden |= flag.hide;
      return true;
    }
    error = "unknown fault '" + name + "'";
    return false;
  }

  bool ReaderFault(const std::string& name, const std::string& pin, const Entry& entry,
                   std::string& error) {
    std::vector<ReaderFaults*> targets;
    if (pin.empty() || pin == "container") targets.push_back(&video_.faults.container);
    if (pin.empty() || pin == "audio") targets.push_back(&video_.faults.audio);
    if (targets.empty()) {
      error = "a reader fault names the pin Container or Audio";
      return false;
    }
    if (name == "request_fails") {
      HRESULT result = S_OK;
      if (!entry.hasValue || !ParseHresult(entry.value, result) || SUCCEEDED(result)) {
        error = "'request_fails' needs a failure HRESULT";
        return false;
      }
      for (ReaderFaults* target : targets) target->requestFails = result;
      return true;
    }
    const bool needsNumber = name == "syncread_fail_at" || name == "syncread_short_at" ||
                             name == "length_estimated" || name == "stall_at" ||
                             name == "rate_kbps";
    std::uint64_t number = 0;
    if (needsNumber != entry.hasValue || (needsNumber && !ParseUnsigned(entry.value, number))) {
      error =
          needsNumber ? "'" + name + "' needs a number of bytes" : "'" + name + "' takes no value";
      return false;
    }
    for (ReaderFaults* target : targets) {
      if (name == "no_async_reader") {
        target->noReader = true;
      } else if (name == "length_fails") {
        target->lengthFails = true;
      } else if (name == "flush_waits") {
        target->flushWaits = true;
      } else if (name == "length_estimated") {
        target->estimatedLength = number;
      } else if (name == "syncread_fail_at") {
        target->failAt = number;
      } else if (name == "syncread_short_at") {
        target->shortAt = number;
      } else if (name == "stall_at") {
        target->stallAt = number;
      } else if (name == "rate_kbps") {
        if (number == 0 || number > 0xFFFFFFFFull) {
          error = "'rate_kbps' needs 1 to 4294967295 kilobits per second";
          return false;
        }
        target->bytesPerSecond = number * 1000 / 8;
      } else {
        error = "unknown reader fault '" + name + "'";
        return false;
      }
    }
    return true;
  }

 private:
  const std::wstring& folder_;
  Video& video_;
};

}  // namespace

std::wstring CatalogRoot() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = GetEnvironmentVariableW(L"KAVO_STANDIN_CATALOG", buffer, ARRAYSIZE(buffer));
  if (length > 0 && length < ARRAYSIZE(buffer)) return std::wstring(buffer, length);
  std::wstring path = ThisModulePath();
  const size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  return path + L"catalog";
}

HRESULT ReadVideo(const std::wstring& root, const std::wstring& id, Video& video,
                  std::string& error) {
  const std::wstring folder = root + L"\\" + id;
  std::string contents;
  if (!ReadWholeFile(folder + L"\\video.txt", contents)) {
    error = "no video '" + WideToUtf8(id) + "' in the catalog " + WideToUtf8(root);
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  video = Video();
  video.id = id;
  VideoReader reader(folder, video);
  const std::vector<std::string> lines = Lines(contents);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string why;
    if (!reader.Line(lines[i], why)) {
      error = WideToUtf8(id) + "\\video.txt line " + std::to_string(i + 1) + ": " + why;
      return VFW_E_INVALID_FILE_FORMAT;
    }
  }
  std::string why;
  if (!reader.Finish(why)) {
    error = WideToUtf8(id) + "\\video.txt: " + why;
    return VFW_E_INVALID_FILE_FORMAT;
  }
  return S_OK;
}

}  // namespace kavo::standin
