// SubRip text from a list of timed cues. The text stays UTF-16 until the caller writes it out.
// Pure functions: reentrant, no lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavo {

struct SrtCue {
  std::int64_t start_ms;
  std::int64_t duration_ms;  // the end written is start_ms + duration_ms
  std::wstring text;         // written verbatim: no escaping, no trimming
};

// HH:MM:SS,mmm with fields truncated toward zero; the hours grow beyond two digits when needed.
// Hours beyond the signed 32-bit range are written as 2147483647.
std::wstring FormatSrtTime(std::int64_t ms);

// Every cue in the order given: number, LF, start " --> " end, LF, text, LF, LF. Times before the
// stream's origin are written as 00:00:00,000. An empty list gives an empty text.
std::wstring BuildSrtText(const std::vector<SrtCue>& cues);

}  // namespace kavo
