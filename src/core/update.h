#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

// Called once on the window thread at the end of a check: accepted is true
// when the user accepted an offered download and it was opened.
using UpdateCallback = std::function<void(bool accepted, const QString &answer)>;

// Asks the user about an offered download (the notice dialog); runs on the
// window thread; true when the user pressed Yes.
using UpdateAsk = std::function<bool(const QString &answer)>;

// Module start-up: seeds the random generator and fixes UpdateLanguage.
void InitUpdateModule();

// The update service address the window uses: WebHost() + "/api.init.php",
// unless the settings file's section [Update] has the key "endpoint" (an empty
// value there switches the check off).
QString ConfiguredUpdateEndpoint();

// Starts the background check of the update service and returns at once.
// An empty endpoint starts nothing.
void CheckUpdate(const QString &endpoint, UpdateCallback callback, int layoutOffset, UpdateAsk ask);

// Asks every running check to stop and waits for it to end; returns promptly
// (a waiting check ends within about 10 ms). No callback runs afterwards.
// Called on the window thread when the window closes.
void StopUpdateChecks();
