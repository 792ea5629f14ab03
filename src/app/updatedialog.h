#pragma once

#include "update.h"

#include <QString>

#include <functional>

class QObject;

// What the notice needs besides the answer.
struct TUpdateNotice {
    QString Language = QStringLiteral("en"); // picks the texts (UpdateText)
    int LayoutOffset = 0;                    // subtracted from the distances of the extras below the buttons
    std::function<void()> Hold;              // sends the hold request; empty: none is sent
};

// Shows the update notice for the service's answer modally on the window
// thread and returns true when the user pressed Yes (No, Escape and closing
// the window give false).
//
// The answer's "info" object shapes the notice: "style" "hold" adds a check
// box captioned "text" that, when ticked, calls notice.Hold after the dialog
// closed (whichever button closed it); "note" adds a link captioned "text"
// that opens "url" and leaves the dialog open; any other non-empty style adds
// only the room and the separator line. "flag" containing "stayontop" keeps
// the dialog above other windows.
//
// Throws JsonUnescapeError, before anything is shown, when a field of "info"
// holds a malformed "\u" escape.
bool UpdateDialog(const QString &answer, const TUpdateNotice &notice);

// Starts the window's update check with config: the notice (in the check's
// language, with layoutOffset) asks, and its hold box sends the hold request
// through the same checker. The checker is a child of owner, ends with it and
// is stopped by StopUpdateChecks(owner); callback as in TUpdateChecker::Check.
TUpdateChecker *CheckUpdate(QObject *owner, const TUpdateConfig &config, UpdateCallback callback,
                            int layoutOffset);

// v pixels at 96 DPI scaled to dpi: v * round(100 * dpi / 96) / 100, rounded.
int ScaleToDpi(int v, qreal dpi);
