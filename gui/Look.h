// The window program's look: one style sheet for the whole window and its
// dialogs, and the two pictures drawn in code (program icon, search glyph).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace zelm {

// Skin names of the start buttons, selected in the style sheet through the
// button's "skin" property.
inline constexpr const char* kStartButtonSkin = "startbutton";
inline constexpr const char* kStopButtonSkin = "stopbutton";

QString StyleSheet();
// The program's font; the window's geometry is laid out for it.
void ApplyApplicationFont();
QPixmap ProgramPixmap(int size);
QIcon ProgramIcon();
QIcon SearchGlyph();

}  // namespace zelm
