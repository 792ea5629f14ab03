// A stand-in for an external tool, chosen by its first argument:
//   forever            prints "started" and never ends
//   spawn              starts a copy of itself that never ends, prints that
//                      copy's process id, and never ends either
//   env NAME           prints the value of an environment variable and the
//                      current folder, one a line
//   exit CODE TEXT     prints TEXT and ends with CODE
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    const QString mode = arguments.value(0);
    if (mode == QLatin1String("env")) {
        std::printf("%s\n%s\n", qgetenv(arguments.value(1).toUtf8().constData()).constData(),
                    QDir::currentPath().toUtf8().constData());
        return 0;
    }
    if (mode == QLatin1String("exit")) {
        std::printf("%s", arguments.value(2).toUtf8().constData());
        return arguments.value(1).toInt();
    }
    if (mode == QLatin1String("spawn")) {
        // An ordinary child, as a tool's helper program would be; left
        // running when this program is stopped.
        auto *child = new QProcess;
        child->setStandardOutputFile(QProcess::nullDevice());
        child->start(app.applicationFilePath(), {QStringLiteral("forever")});
        if (!child->waitForStarted())
            return 3;
        std::printf("%lld\n", static_cast<long long>(child->processId()));
    } else if (mode == QLatin1String("forever")) {
        std::printf("started\n");
    } else {
        return 2;
    }
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}
