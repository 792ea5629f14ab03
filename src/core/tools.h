#pragma once

#include <QString>
#include <QStringList>

// Runs one external program hidden and returns everything it wrote to its
// standard output and standard error (one merged channel, in arrival order),
// decoded from UTF-8 once after the program ended. Blocks until the program
// has exited; the exit code is never looked at. A program that cannot be
// started gives an empty text at once. The program's current directory is the
// folder of programPath; it gets no input to wait for.
//
// The command line is a quoted programPath and, when parameters is not empty,
// one space and the parameters unchanged. It is split into arguments at runs
// of spaces outside double quotes, with the quotes removed, so that a quoted
// path with spaces stays one argument.
QString RunAndCapture(const QString &programPath, const QString &parameters);
