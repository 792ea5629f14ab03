#pragma once

#include <QString>

// Shows the update notice for the service's answer modally on the window
// thread and returns true when the user pressed Yes (No, Escape and closing
// the window give false).
//
// The answer's "info" object shapes the notice: "style" "hold" adds a check
// box captioned "text" that, when ticked, sends the hold request after the
// dialog closed (whichever button closed it); "note" adds a link captioned
// "text" that opens "url" and leaves the dialog open; any other non-empty
// style adds only the room and the separator line. "flag" containing
// "stayontop" keeps the dialog above other windows.
//
// Throws JsonUnescapeError, before anything is shown, when a field of "info"
// holds a malformed "\u" escape.
bool UpdateDialog(const QString &answer);

// v pixels at 96 DPI scaled to dpi: v * round(100 * dpi / 96) / 100, rounded.
int ScaleToDpi(int v, qreal dpi);
