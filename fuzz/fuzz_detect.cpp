// libFuzzer target for image type detection.
//
// Input: the first bytes are the file's content, a 0x00 0xFF pair ends them,
// the rest is the file name (UTF-8). Checks, besides "no crash":
//  - the answer is empty, a supported extension or a known type text;
//  - reading the content from a real file gives the same answer as deciding
//    on its first 12 bytes directly (the 13-byte threshold included).

#include "list.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace
{

const QSet<QString> &knownTypes()
{
    static const QSet<QString> types{
        "JPG",  "BMP", "GIF", "WEBP", "TIFF", "PSD", "RAW",      "PDF",  "PNG",    "HDR",   "UltraHDR",
        "EPS",  "ICO", "WMF", "RAS",  "JXR",  "JP2", "JPEG2000", "FLIF", "SPRITE", "VICAR", "ORF",
        "FTV",  "AAI", "ART", "CIN",  "DCX",  "DDS", "IIQ",      "JBIG", "JNG",    "PCX",   "PICT",
        "VIFF", "XCF", "YUV", "AI",   "SVG",  "TGA", "JPEG",     "HEIC"};
    return types;
}

const QString &scratchFolder()
{
    static const QString folder = [] {
        const QString path = QDir::tempPath() + QStringLiteral("/zarvelo-fuzz-detect-%1").arg(::getpid());
        QDir().mkpath(path);
        return path + QLatin1Char('/');
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf(QByteArrayView("\x00\xFF", 2));
    const QByteArray content = split < 0 ? input : input.left(split);
    const QString name = split < 0 ? QString() : QString::fromUtf8(input.mid(split + 2));

    const QString fromHeader = DetectImageTypeFromHeader(
        content.size() > 12 ? QByteArrayView(content).first(12) : QByteArrayView(), name);
    if (!fromHeader.isEmpty() && !knownTypes().contains(fromHeader))
        std::abort();

    // The same content in a real file, named by the name's extension only
    // (the name itself may hold '/' or be unusable as a file name).
    const QString ext = UpperCaseExtension(name);
    if (ext.contains(QLatin1Char('/')))
        std::abort();
    const QString path =
        scratchFolder() + QStringLiteral("f") +
        (name.contains(QLatin1Char('.')) && !ext.contains(QChar(0)) ? QLatin1Char('.') + ext : QString());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size()) {
        file.close();
        const QString fromFile = DetectImageType(path);
        const QString expected = DetectImageTypeFromHeader(
            content.size() > 12 ? QByteArrayView(content).first(12) : QByteArrayView(), path);
        if (fromFile != expected)
            std::abort();
        QFile::remove(path);
    }
    return 0;
}
