#pragma once

// Pieces shared by the benchmarks: photo-like test images and the plain
// "direct" loop that runs the external tools without the program.

#include "common.h"
#include "tools.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QStringList>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace benchutil
{

// A smooth picture with fine noise, roughly what a camera gives; format:
// the file format ("PNG", or "JPG" at quality 90).
inline bool writePhoto(const QString &path, int width, int height, quint32 seed, const char *format = "PNG")
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
    return image.save(path, format, qstrcmp(format, "JPG") == 0 ? 90 : -1);
}

// Starts one tool with the parameter text split as the runner splits it;
// waits for it. Output goes nowhere.
inline void runDirect(const QString &program, const QString &parameters)
{
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> storage{path};
    for (const QString &argument : SplitCommandLine(parameters))
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    if (posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

inline QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

inline QString timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmsszzz"));
}

// The same work as the engine for a PNG source, written out plainly: returns
// the parameter texts it ran, "<tool>: <text>" per line.
inline QStringList convertDirect(const QString &format, int quality, const QString &source, const QString &output,
                          const QString &scratch)
{
    const QString magick = ProgramFolder() + QStringLiteral("vendor/magick");
    QStringList texts;
    if (format == QLatin1String("JPG")) {
        const QString bitmap = scratch + timestamp() + QStringLiteral(".ppm");
        const QString first = quoted(source + QStringLiteral("[0]")) +
                              QStringLiteral(" -auto-orient -type TrueColor -colorspace sRGB PPM:") +
                              quoted(bitmap);
        runDirect(magick, first);
        const QString encoded = scratch + timestamp() + QStringLiteral(".JPG");
        const QString second = QStringLiteral("-quality ") + QString::number(quality) +
                               QStringLiteral(" -outfile ") + quoted(encoded) + QLatin1Char(' ') +
                               quoted(bitmap);
        runDirect(ProgramFolder() + QStringLiteral("vendor/cjpeg"), second);
        QFile::copy(encoded, output);
        QFile::remove(bitmap);
        QFile::remove(encoded);
        texts << QStringLiteral("magick: ") + first << QStringLiteral("cjpeg: ") + second;
    } else {
        const QString frame = format == QLatin1String("WEBP") || format == QLatin1String("GIF")
                                  ? QString()
                                  : QStringLiteral("[0]");
        const QString text = quoted(source + frame) + QStringLiteral(" -auto-orient ") + quoted(output);
        runDirect(magick, text);
        texts << QStringLiteral("magick: ") + text;
    }
    return texts;
}

} // namespace benchutil
