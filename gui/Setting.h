// This product's settings: the recovery options shown on the option pages,
// the hidden open-when-finished box, the temporary folder and the buffer
// size, stored beside the dialog choices of TZELMSetting.
#pragma once

#include "gui/ZELMSetting.h"

namespace zelm {

class TSetting : public TZELMSetting {
 public:
  bool OpenFixed = false;
  bool FastRecovery = true;
  bool HeuristicRecoverRoot = false;
  bool RecoverUnattchedAttach = true;
  bool SplitOversizePST = false;
  std::int32_t PSTFileSizeLimit = 1000;
  bool IgnoreZeroBlock = true;
  bool AlwaysIPMSubtree = true;
  bool RemoveEmptyFolder = false;
  bool RecoverMultiPropInBatch = false;
  bool Level1Recovery = true;
  bool Level2Recovery = true;
  bool Level3Recovery = true;
  bool Level4Recovery = true;
  bool Level5Recovery = true;
  QString TempDir;
  std::int32_t BufSize = 512;

  // Where a user of this platform keeps offline mail files: the Outlook
  // folder of the Wine prefix ($WINEPREFIX, else ~/.wine) when it exists,
  // otherwise the home folder; always with a trailing "/".
  QString DefaultOpenDirectory() const override;
  void Save() override;
  void Load() override;

  // The system's temporary-files folder with its trailing "/".
  static QString DefaultTempDir();
};

}  // namespace zelm
