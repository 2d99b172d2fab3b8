#include "gui/logdlg.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>

#include "gui/ZelmStrings.h"

namespace zelm {

TSaveLogDialog::TSaveLogDialog() {
  Filter = res::str(res::kLogFilter);
  DefaultExt = res::str(res::kLogDefaultExt);
  FilterIndex = 1;
  Customize = [this](QFileDialog& dialog) { addInfoPanel(dialog); };
}

void TSaveLogDialog::addInfoPanel(QFileDialog& dialog) {
  InfoPanel = new QWidget(&dialog);
  InfoPanel->setObjectName(QStringLiteral("InfoPanel"));
  SystemInfoCheckBox = new QCheckBox(res::str(res::kIncludeSysInfo), InfoPanel);
  SystemInfoCheckBox->setObjectName(QStringLiteral("SystemInfoCheckBox"));
  SystemInfoCheckBox->setToolTip(res::str(res::kHintIncludeSysInfo));
  SystemInfoCheckBox->setChecked(includeSysInfo_);
  auto* row = new QHBoxLayout(InfoPanel);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(SystemInfoCheckBox);
  row->addStretch(1);
  QObject::connect(SystemInfoCheckBox, &QCheckBox::toggled, InfoPanel, [this](bool on) { includeSysInfo_ = on; });
  QObject::connect(InfoPanel, &QObject::destroyed, [this] {
    InfoPanel = nullptr;
    SystemInfoCheckBox = nullptr;
  });
  // Below the dialog's own controls, across its whole width.
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
    grid->addWidget(InfoPanel, grid->rowCount(), 0, 1, grid->columnCount());
  } else if (dialog.layout() != nullptr) {
    dialog.layout()->addWidget(InfoPanel);
  }
}

}  // namespace zelm
