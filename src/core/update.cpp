#include "update.h"

#include "common.h"

// Placeholders until the update client lands.
void InitUpdateModule() {}
QString ConfiguredUpdateEndpoint() { return WebHost() + QStringLiteral("/api.init.php"); }
void CheckUpdate(const QString &, UpdateCallback, int, UpdateAsk) {}
void StopUpdateChecks() {}
