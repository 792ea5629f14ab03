// A stand-in for an external tool, chosen by its first argument, or by its
// own file name when a test copied it under another name than fake_tool (then
// every argument is the mode's):
//   forever            prints "started" and never ends
//   spawn [FILE]       starts a copy of itself that never ends, prints that
//                      copy's process id (and writes it to FILE once the copy
//                      runs), and never ends either
//   env NAME           prints the value of an environment variable and the
//                      current folder, one a line
//   exit CODE TEXT     prints TEXT and ends with CODE
//   args ...           reads its standard input to the end, prints the
//                      current folder, then each argument in brackets, one
//                      a line
//   count N            prints the numbers 1 to N, one a line
//   utf8               prints "한글" 1001 times, the first in three writes
//                      that split both characters, with pauses between them
//   mixed              prints out1, err1, out2, err2 alternately on standard
//                      output and standard error with pauses, and ends with 3
// Output is written byte for byte: no CR is added before LF on Windows.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace
{
void put(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

int main(int argc, char *argv[])
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const QString name = QFileInfo(app.applicationFilePath()).completeBaseName();
    const QString mode = name == QLatin1String("fake_tool") ? arguments.value(0) : name;
    if (name == QLatin1String("fake_tool") && !arguments.isEmpty())
        arguments.removeFirst();

    if (mode == QLatin1String("env")) {
        put(stdout, qgetenv(arguments.value(0).toUtf8().constData()) + '\n' + QDir::currentPath().toUtf8() + '\n');
        return 0;
    }
    if (mode == QLatin1String("exit")) {
        put(stdout, arguments.value(1).toUtf8());
        return arguments.value(0).toInt();
    }
    if (mode == QLatin1String("args")) {
        char buffer[4096];
        while (std::fread(buffer, 1, sizeof buffer, stdin) > 0) {
        }
        QByteArray text = QDir::currentPath().toUtf8() + '\n';
        for (const QString &argument : std::as_const(arguments))
            text += '[' + argument.toUtf8() + "]\n";
        put(stdout, text);
        return 0;
    }
    if (mode == QLatin1String("count")) {
        const int last = arguments.value(0).toInt();
        QByteArray text;
        for (int i = 1; i <= last; ++i)
            text += QByteArray::number(i) + '\n';
        put(stdout, text);
        return 0;
    }
    if (mode == QLatin1String("utf8")) {
        put(stdout, "\xED\x95");
        QThread::msleep(200);
        put(stdout, "\x9C\xEA");
        QThread::msleep(200);
        put(stdout, "\xB8\x80");
        // Many small writes, so that the reader's chunks end anywhere.
        for (int i = 0; i < 1000; ++i)
            put(stdout, "\xED\x95\x9C\xEA\xB8\x80");
        return 0;
    }
    if (mode == QLatin1String("mixed")) {
        put(stdout, "out1\n");
        QThread::msleep(100);
        put(stderr, "err1\n");
        QThread::msleep(100);
        put(stdout, "out2\n");
        QThread::msleep(100);
        put(stderr, "err2\n");
        return 3;
    }
    if (mode == QLatin1String("spawn")) {
        // An ordinary child, as a tool's helper program would be; left
        // running when this program is stopped.
        auto *child = new QProcess;
        child->setStandardOutputFile(QProcess::nullDevice());
        child->start(app.applicationFilePath(), {QStringLiteral("forever")});
        if (!child->waitForStarted())
            return 3;
        put(stdout, QByteArray::number(child->processId()) + '\n');
        if (!arguments.value(0).isEmpty()) {
            // Written aside and renamed, so that a reader never sees it half.
            QFile file(arguments.value(0) + QStringLiteral(".part"));
            if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(child->processId())) <= 0)
                return 4;
            file.close();
            if (!file.rename(arguments.value(0)))
                return 4;
        }
    } else if (mode == QLatin1String("forever")) {
        put(stdout, "started\n");
    } else {
        return 2;
    }
    for (;;)
        QThread::sleep(1);
}
