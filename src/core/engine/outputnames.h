#pragma once

#include "settings.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

// Whether an output may not be given the name path: an entry that is not a
// folder exists under it, or a link that leads nowhere (a tool would write
// through it). A folder does not take the name; moving a file onto it is
// refused, and the output then takes the next free name.
bool OutputNameTaken(const QString &path);

// A path for the output of sourcePath in format (lower-cased as extension)
// that no entry takes (OutputNameTaken): "name.ext", then "name (1).ext", ...
QString MakeOutputPath(const ConversionOptions &options, const QString &sourcePath, const QString &format);

// Output names handed out to the conversions of one job. A name is free when
// no entry takes it (OutputNameTaken) and no conversion of the job holds it.
// Thread-safe.
class TOutputNames
{
  public:
    // The output name for sourcePath in format: the one reserved for it
    // earlier, else the first free name ("name.ext", "name (1).ext", ...),
    // which is then held for it.
    QString Reserve(const ConversionOptions &options, const QString &sourcePath, const QString &format);
    // The next free " (n)" name after path, held from now on (used when a
    // file appeared under a reserved name meanwhile).
    QString ReserveNext(const QString &path);

  private:
    // The first " (n)" name after path that is free; call with FMutex held.
    QString nextFree(const QString &path) const;

    QMutex FMutex;
    QSet<QString> FHeld;
    QHash<QString, QString> FBySource;
};
