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

// Whether path holds a file an earlier run may have written there: a regular
// file, not a link.
bool HoldsEarlierOutput(const QString &path);

// A path for the output of sourcePath in format (lower-cased as extension)
// that no entry takes (OutputNameTaken): "name.ext", then "name (1).ext", ...
QString MakeOutputPath(const ConversionOptions &options, const QString &sourcePath, const QString &format);

// Output names handed out to the conversions of one job. A name is free when
// no entry takes it (OutputNameTaken) and no conversion of the job holds it.
// Thread-safe.
//
// When earlier outputs are skipped or replaced (options.Existing), a source's
// name is instead the first of "name.ext", "name (1).ext", ... that the job
// does not hold and that is not a folder, a link or a source of the job: the
// name a run into an empty folder would have given it, so that the earlier
// output found there is the one this source made.
class TOutputNames
{
  public:
    // Marks path as a source of the job: its name is never given to an
    // output that may replace what is there.
    void AddSource(const QString &path);
    // Whether path is a source of the job (by name, or by the file a
    // source's link leads to).
    bool IsSource(const QString &path) const;

    // The output name for sourcePath in format: the one reserved for it
    // earlier, else the first free name ("name.ext", "name (1).ext", ...),
    // which is then held for it.
    QString Reserve(const ConversionOptions &options, const QString &sourcePath, const QString &format);
    // The next free " (n)" name after path, held from now on (used when a
    // file appeared under a reserved name meanwhile). With Overwrite, a name
    // holding an earlier output counts as free.
    QString ReserveNext(const QString &path, TExistingPolicy policy = TExistingPolicy::Rename);

  private:
    // The first " (n)" name after path that is free; call with FMutex held.
    QString nextFree(const QString &path, TExistingPolicy policy) const;
    // Whether candidate is passed over; call with FMutex held.
    bool unusable(const QString &candidate, TExistingPolicy policy) const;
    bool isSource(const QString &path) const;

    mutable QMutex FMutex;
    QSet<QString> FHeld;
    QHash<QString, QString> FBySource;
    // The sources by lower-case file name (and a linked source also by the
    // name of the file it leads to), with their full paths.
    QMultiHash<QString, QString> FSources;
};
