// libFuzzer target for the INI reader and writer behind TConfig.
//
// Input: the settings file's bytes. For a few keys (names in several cases)
// checks, besides "no crash":
//  - a value written (here one with blanks and quotes around it) is read
//    back exactly;
//  - a write leaves the value of every other key as it was;
//  - an integer that parses prints and parses back to itself.

#include "common.h"
#include "config.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

// The accessor's file name needs a program folder; the fuzzer touches no file.
QString ProgramFolder()
{
    return QStringLiteral("/nonexistent/");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString section = QStringLiteral("Config");
    const QString keys[] = {QStringLiteral("format"), QStringLiteral("SavePath"), QStringLiteral("width"),
                            QStringLiteral("w")};

    std::optional<QString> before[4];
    for (int i = 0; i < 4; ++i) {
        before[i] = IniReadValue(content, section, keys[i]);
        if (before[i]) {
            if (const std::optional<int> n = IniParseInteger(*before[i])) {
                if (IniParseInteger(QString::number(*n)) != n)
                    std::abort();
            }
        }
    }

    const QString value = QStringLiteral(" \"v=1 \u00E9\" ");
    for (int i = 0; i < 4; ++i) {
        const std::optional<QByteArray> written = IniWriteValue(content, section, keys[i], value);
        if (!written) {
            if (content.size() <= IniMaxFileSize)
                std::abort(); // the names and the value are all storable
            continue;
        }
        if (IniReadValue(*written, section, keys[i].toUpper()) != value)
            std::abort();
        for (int j = 0; j < 4; ++j) {
            if (j != i && IniReadValue(*written, section, keys[j]) != before[j])
                std::abort();
        }
    }
    return 0;
}
