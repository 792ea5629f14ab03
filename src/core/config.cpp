#include "config.h"

#include "common.h"

// Placeholders until the INI reader/writer lands.
TConfig::TConfig(const QString &name, const QString &section)
    : FIni(ProgramFolder() + name + QStringLiteral(".ini")), FSection(section)
{
}
int TConfig::ReadInteger(const QString &, int defaultValue) const { return defaultValue; }
QString TConfig::ReadString(const QString &, const QString &defaultValue) const { return defaultValue; }
bool TConfig::ReadBoolean(const QString &, bool defaultValue) const { return defaultValue; }
void TConfig::WriteInteger(const QString &, int) {}
void TConfig::WriteString(const QString &, const QString &) {}
void TConfig::WriteBoolean(const QString &, bool) {}
