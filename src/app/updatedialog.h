#pragma once

#include <QString>

// Shows the update notice for the service's answer modally and returns true
// when the user pressed Yes.
bool UpdateDialog(const QString &answer);
