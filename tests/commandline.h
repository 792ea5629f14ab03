#pragma once

// Turning a parameter text, as the tool contract writes it, into program
// arguments; shared by the tests (through testutil.h) and the benchmarks.

#include <QString>
#include <QStringList>

namespace testutil
{

// Arguments are separated by runs of spaces outside double quotes; the quotes
// themselves are removed, and a token made only of quotes ("") gives one
// empty argument.
inline QStringList splitCommandLine(const QString &parameters)
{
    QStringList arguments;
    QString current;
    bool inQuotes = false;
    bool inToken = false;
    for (const QChar c : parameters) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            inToken = true;
        } else if (c == QLatin1Char(' ') && !inQuotes) {
            if (inToken) {
                arguments.append(current);
                current.clear();
                inToken = false;
            }
        } else {
            current += c;
            inToken = true;
        }
    }
    if (inToken)
        arguments.append(current);
    return arguments;
}

} // namespace testutil
