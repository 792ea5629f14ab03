#pragma once

// Pieces shared by the benchmarks: photo-like test images and the plain
// "direct" loop that runs the external tools without the program.

#include "commandline.h"
#include "common.h"
#include "tools.h"

#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QStringList>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace benchutil
{

// A smooth picture with fine noise, roughly what a camera gives.
inline bool writePhoto(const QString &path, int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    const int shift = int(seed % 97);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int noise = int(random.bounded(24u)) - 12;
            const int r = qBound(0, (x + shift) * 255 / width + noise, 255);
            const int g = qBound(0, y * 255 / height + noise, 255);
            const int b = qBound(0, ((x + y) / 8 + shift) % 256 + noise, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    return image.save(path, "PNG");
}

// Starts program with its standard input and output on the given descriptors
// (-1: /dev/null); returns its process id or 0.
inline pid_t spawnWith(const QString &program, const QStringList &arguments, int input, int output)
{
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> storage{path};
    for (const QString &argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ) != 0)
        pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts one tool with the parameter text split as the runner splits it;
// waits for it. Output goes nowhere.
inline void runDirect(const QString &program, const QString &parameters)
{
    const pid_t pid = spawnWith(program, testutil::splitCommandLine(parameters), -1, -1);
    if (pid > 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

inline void spawnList(const QString &program, const QStringList &arguments)
{
    const pid_t pid = spawnWith(program, arguments, -1, -1);
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
}

// first | second, like a shell pipe.
inline void spawnPipe(const QString &first, const QStringList &firstArguments, const QString &second,
                      const QStringList &secondArguments)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return;
    const pid_t producer = spawnWith(first, firstArguments, -1, ends[1]);
    const pid_t consumer = spawnWith(second, secondArguments, ends[0], -1);
    close(ends[0]);
    close(ends[1]);
    int status = 0;
    if (producer > 0)
        waitpid(producer, &status, 0);
    if (consumer > 0)
        waitpid(consumer, &status, 0);
}

// The engine's tool steps for a PNG source, run plainly on the given paths:
// returns the texts it ran, "<tool>: <arguments>" per line.
inline QStringList convertSameSteps(const QString &format, int quality, const QString &source,
                                    const QString &output, const QString &scratch)
{
    const QString magick = ProgramFolder() + QStringLiteral("vendor/magick");
    QStringList texts;
    if (format == QLatin1String("JPG")) {
        const QStringList first = {
            source + QStringLiteral("[0]"), QStringLiteral("-auto-orient"),
            QStringLiteral("-profile"),     QStringLiteral("/usr/share/color/icc/ghostscript/srgb.icc"),
            QStringLiteral("-strip"),       QStringLiteral("-type"),
            QStringLiteral("TrueColor"),    QStringLiteral("-colorspace"),
            QStringLiteral("sRGB"),         QStringLiteral("-compress"),
            QStringLiteral("none"),         QStringLiteral("BMP3:-")};
        const QString encoded = scratch + QStringLiteral("out.JPG");
        const QStringList second = {QStringLiteral("-quality"), QString::number(quality),
                                    QStringLiteral("-outfile"), encoded};
        spawnPipe(magick, first, ProgramFolder() + QStringLiteral("vendor/cjpeg"), second);
        QFile::copy(encoded, output);
        QFile::remove(encoded);
        texts << QStringLiteral("magick: ") + JoinArguments(first)
              << QStringLiteral("cjpeg: ") + JoinArguments(second);
    } else {
        const QString frame = format == QLatin1String("WEBP") || format == QLatin1String("GIF")
                                  ? QString()
                                  : QStringLiteral("[0]");
        const QStringList arguments = {source + frame, QStringLiteral("-auto-orient"), output};
        spawnList(magick, arguments);
        texts << QStringLiteral("magick: ") + JoinArguments(arguments);
    }
    return texts;
}

} // namespace benchutil
