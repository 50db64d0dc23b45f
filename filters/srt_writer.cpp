#include "filters/srt_writer.h"

#include <iomanip>
#include <limits>
#include <locale>
#include <sstream>

#include "common/text.h"

namespace kavo {

namespace {

constexpr std::int64_t kMsPerHour = 3600000;
constexpr std::int64_t kMsPerMinute = 60000;
constexpr std::int64_t kMsPerSecond = 1000;

std::int32_t ClampToInt32(std::int64_t value) {
  constexpr std::int64_t lowest = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t highest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < lowest ? lowest : value > highest ? highest : value);
}

// A player shows nothing before the origin, and a minus sign inside a field is no timestamp any
// parser accepts; the end is summed without overflowing.
std::int64_t WrittenStart(const SrtCue& cue) { return cue.start_ms < 0 ? 0 : cue.start_ms; }

std::int64_t WrittenEnd(const SrtCue& cue) {
  constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
  std::int64_t end;
  if (cue.duration_ms > 0 && cue.start_ms > highest - cue.duration_ms) {
    end = highest;
  } else if (cue.duration_ms < 0 && cue.start_ms < lowest - cue.duration_ms) {
    end = lowest;
  } else {
    end = cue.start_ms + cue.duration_ms;
  }
  return end < 0 ? 0 : end;
}

}  // namespace

std::wstring FormatSrtTime(std::int64_t ms) {
  const std::int32_t hours = ClampToInt32(ms / kMsPerHour);
  const std::int32_t minutes = static_cast<std::int32_t>((ms / kMsPerMinute) % 60);
  const std::int32_t seconds = static_cast<std::int32_t>((ms / kMsPerSecond) % 60);
  const std::int32_t millis = static_cast<std::int32_t>(ms % kMsPerSecond);

  std::wostringstream out;
  out.imbue(std::locale::classic());
  out << std::setfill(L'0') << std::right << std::setw(2) << hours << L':' << std::setw(2)
      << minutes << L':' << std::setw(2) << seconds << L',' << std::setw(3) << millis;
  return out.str();
}

std::wstring BuildSrtText(const std::vector<SrtCue>& cues) {
  std::wstring text;
  std::int32_t number = 1;
  for (const SrtCue& cue : cues) {
    text += DecimalWideString(number);
    text += L'\n';
    text += FormatSrtTime(WrittenStart(cue));
    text += L" --> ";
    text += FormatSrtTime(WrittenEnd(cue));
    text += L'\n';
    text += cue.text;
    text += L"\n\n";
    ++number;
  }
  return text;
}

}  // namespace kavo
