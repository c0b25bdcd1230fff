#pragma once

#include <QIcon>
#include <QStyle>

class QFont;

// The main window's pictures. The desktop's icon theme is used where it has one; the rest are
// painted here so the window needs no theme and no picture files.
namespace Icons {

// The theme's icon of that name, else the style's standard picture.
QIcon Themed(const char *name, QStyle::StandardPixmap fallback, QStyle *style);
// The Go button: a green arrow and the word, in the window's font made bold.
QIcon Go(const QFont &font);
// A house, for desktops whose icon theme has none (Qt's own fallback is a folder).
QIcon Home();
// The cross of the floating close-tab button.
QIcon CloseTab();

} // namespace Icons
