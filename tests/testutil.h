#pragma once

// Shared helpers of the Qt Test executables.

#include "common.h"
#include "update.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace testutil {

// No test reaches a name server or a service outside this machine: update
// checks started by a window under test only go to loopback addresses.
inline const bool kUpdateLoopbackOnly = (SetUpdateLoopbackOnly(true), true);

// The folder of the test executables; the build puts vendor/ there.
inline QString binFolder()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/');
}

// A private stand-in for the program folder: a temporary folder with a link
// "vendor" to the real vendor folder, so that settings files of tests never
// meet. Made the program folder for as long as the object lives.
class ProgramFolderScope
{
public:
    ProgramFolderScope()
    {
        QFile::link(binFolder() + QStringLiteral("vendor"), m_dir.path() + QStringLiteral("/vendor"));
        SetProgramFolder(m_dir.path());
    }
    ~ProgramFolderScope() { SetProgramFolder(QString()); }
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    QString iniPath() const { return path() + QStringLiteral("Zarvelo.ini"); }

private:
    QTemporaryDir m_dir;
};

} // namespace testutil
