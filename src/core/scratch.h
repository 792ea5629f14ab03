#pragma once

#include <QString>
#include <QTemporaryDir>

// A private folder for the temporary files of one conversion: a fresh folder
// "zarvelo-XXXXXX" inside the user's cache folder, marked with the identity of
// this process (its id and start time), so that a later start can tell a dead
// program's folder from a live one. Removed with everything in it when the object goes, and by
// the termination cleanup if the program is asked to end meanwhile.
class TScratchFolder
{
  public:
    TScratchFolder();
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder &) = delete;
    TScratchFolder &operator=(const TScratchFolder &) = delete;

    bool IsValid() const;
    // The folder's path, ending with '/'.
    QString Path() const { return FPath; }

  private:
    QTemporaryDir FDir;
    QString FPath;
};

// Removes the scratch folders of programs that no longer run (killed, for
// example). A folder whose owner still runs is never touched. Call at start.
// Returns how many folders were removed.
int RemoveStaleScratchFolders();

// From now on SIGTERM and SIGINT (also sent when the desktop session ends)
// stop every tool run and remove every scratch folder before the program
// exits. Call once at start.
void InstallTerminationCleanup();

// Marks a file that must go if the program is asked to end before the file
// is finished (a hidden temporary file in an output folder); Forget drops the
// mark once the file is gone or in its place.
void RememberTemporaryFile(const QString &path);
void ForgetTemporaryFile(const QString &path);
