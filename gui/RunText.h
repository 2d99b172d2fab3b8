// Texts of a run that carry numbers: the progress label, the elapsed-time
// label, the consumed-time log line and byte counts with thousands
// separators.
#pragma once

#include <QString>
#include <cstdint>

namespace zelm {

// "42% completed".
QString FormatProgress(unsigned percent);

// The time parts of an interval as a time of day shows them: hours wrap at
// 24, as the date-time pattern they are formatted with does.
struct TimeParts {
  int hours;
  int minutes;
  int seconds;
  int milliseconds;
};
TimeParts SplitInterval(std::int64_t milliseconds);

// "1 hour(s) 7 minute(s) " (the trailing blank belongs to the pattern).
QString FormatElapsedLabel(std::int64_t milliseconds);

// "Consumed time: 0 hour(s) 2 minute(s) 5 second(s) 31 millisecond(s)."
QString FormatConsumedTime(std::int64_t milliseconds);

// 4080640 -> "4,080,640" with the user's locale; the C locale groups by ",".
QString FormatByteCount(std::int64_t bytes);

}  // namespace zelm
