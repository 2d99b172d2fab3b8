#include "gui/RunText.h"

#include <QLocale>

#include "gui/ZelmStrings.h"

namespace zelm {

QString FormatProgress(unsigned percent) { return res::str(res::kProgressFormat).arg(percent); }

TimeParts SplitInterval(std::int64_t milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  TimeParts parts{};
  parts.milliseconds = static_cast<int>(milliseconds % 1000);
  const std::int64_t seconds = milliseconds / 1000;
  parts.seconds = static_cast<int>(seconds % 60);
  parts.minutes = static_cast<int>(seconds / 60 % 60);
  parts.hours = static_cast<int>(seconds / 3600 % 24);
  return parts;
}

QString FormatElapsedLabel(std::int64_t milliseconds) {
  const TimeParts t = SplitInterval(milliseconds);
  return res::str(res::kElapsedPattern).arg(t.hours).arg(t.minutes);
}

QString FormatConsumedTime(std::int64_t milliseconds) {
  const TimeParts t = SplitInterval(milliseconds);
  return res::str(res::kConsumedPattern)
      .arg(t.hours)
      .arg(t.minutes)
      .arg(t.seconds)
      .arg(t.milliseconds);
}

QString FormatByteCount(std::int64_t bytes) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
  return locale.toString(static_cast<qlonglong>(bytes));
}

}  // namespace zelm
