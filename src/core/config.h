#pragma once

#include <QString>

// Accessor of one INI file beside the executable (ProgramFolder() + name +
// ".ini"), one section. Nothing is cached: every call opens, reads or
// updates, and closes the file. Reads fall back to their default; a write
// that fails is dropped silently. Key and section names match without regard
// to ASCII case.
class TConfig
{
public:
    explicit TConfig(const QString &name, const QString &section = QStringLiteral("Config"));

    int ReadInteger(const QString &name, int defaultValue) const;
    QString ReadString(const QString &name, const QString &defaultValue) const;
    bool ReadBoolean(const QString &name, bool defaultValue) const;
    void WriteInteger(const QString &name, int value);
    void WriteString(const QString &name, const QString &value);
    void WriteBoolean(const QString &name, bool value);

    QString fileName() const { return FIni; }

private:
    QString FIni;     // path of the INI file
    QString FSection; // section every call uses
};
