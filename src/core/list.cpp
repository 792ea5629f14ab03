#include "list.h"

#include "platform.h"

#include <QFile>

#include <array>
#include <cstdint>
#include <string_view>

namespace
{

constexpr qsizetype HeaderSize = 12;

struct Signature {
    int offset;
    std::string_view bytes;
    const char *type;
};

using namespace std::string_view_literals;

// Tested first to last; the first match decides, so the order matters
// (e.g. "IIU\0" is RAW before "IIU" is IIQ).
constexpr std::array<Signature, 40> Signatures{{
    {0, "\xFF\xD8\xFF"sv, "JPG"},
    {0, "BM"sv, "BMP"},
    {0, "GIF8"sv, "GIF"},
    {8, "WEBP"sv, "WEBP"},
    {0, "I I"sv, "TIFF"},
    {0, "II*\0"sv, "TIFF"},
    {0, "MM\0*"sv, "TIFF"},
    {0, "MM\0+"sv, "TIFF"},
    {0, "8BPS"sv, "PSD"},
    {0, "IIU\0"sv, "RAW"},
    {0, "%PDF"sv, "PDF"},
    {0, "\x89PNG\r\n\x1A\n"sv, "PNG"},
    {4, "ftypheic"sv, "RAW"},
    {0, "#?RA"sv, "HDR"},
    {0, "UHDR"sv, "UltraHDR"},
    {0, "%!PS"sv, "EPS"},
    {0, "\0\0\x01\0"sv, "ICO"},
    {0, "\xD7\xCD\xC6\x9A"sv, "WMF"},
    {0, "\x59\xA6\x6A\x95"sv, "RAS"},
    {0, "II\xBC"sv, "JXR"},
    {0, "jP  "sv, "JP2"},
    {0, "\0\0\0\x0C"sv, "JPEG2000"},
    {0, "FLIF"sv, "FLIF"},
    {0, "Sprite"sv, "SPRITE"},
    {0, "vrwal"sv, "VICAR"},
    {0, "ORCA"sv, "ORF"},
    {0, "FXTV"sv, "FTV"},
    {0, "AAI"sv, "AAI"},
    {0, "ART"sv, "ART"},
    {0, "Cine"sv, "CIN"},
    {0, "DCX"sv, "DCX"},
    {0, "DDS"sv, "DDS"},
    {0, "IIU"sv, "IIQ"},
    {0, "JBIG"sv, "JBIG"},
    {0, "JNG"sv, "JNG"},
    {0, "PCX"sv, "PCX"},
    {0, "PIC"sv, "PICT"},
    {0, "VIFF"sv, "VIFF"},
    {0, "XFTV"sv, "XCF"},
    {0, "YUVY"sv, "YUV"},
}};

constexpr bool rowsFitHeader()
{
    for (const Signature &row : Signatures) {
        if (row.offset < 0 || size_t(row.offset) + row.bytes.size() > size_t(HeaderSize))
            return false;
    }
    return true;
}
static_assert(rowsFitHeader(), "every signature lies within the 12-byte header");

// True when every pattern byte equals the header byte at offset + i. A
// pattern that would reach past the header never matches.
bool MatchBytes(QByteArrayView header, qsizetype offset, std::string_view pattern)
{
    if (offset < 0 || offset > header.size() || qsizetype(pattern.size()) > header.size() - offset)
        return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (header[offset + qsizetype(i)] != pattern[i])
            return false;
    }
    return true;
}

// Whether c ends a folder part of a path (so dots before it are not an
// extension's dot). On Windows a backslash and a drive colon do so too.
bool isPathSeparator(QChar c)
{
    return IsPathSeparator(c);
}

// Reads bytes 0..11 of a regular file of more than 12 bytes into header.
// False (header untouched) in every other case. One open, one read, one
// close; the file is closed on every path.
bool readHeader(const QString &fileName, char (&header)[HeaderSize])
{
    return ReadFileHead(fileName, header, HeaderSize);
}

// HEIF containers: a box "ftyp" at offset 4 and the major brand after it.
// The "heic" brand has its own row in the signature table above.
struct Brand {
    std::string_view bytes;
    const char *type;
};

constexpr std::array<Brand, 12> FtypBrands{{
    {"avif"sv, "AVIF"},
    {"avis"sv, "AVIF"},
    {"heix"sv, "HEIC"},
    {"hevc"sv, "HEIC"},
    {"hevx"sv, "HEIC"},
    {"heim"sv, "HEIC"},
    {"heis"sv, "HEIC"},
    {"hevm"sv, "HEIC"},
    {"hevs"sv, "HEIC"},
    {"mif1"sv, "HEIC"},
    {"msf1"sv, "HEIC"},
    {"heic"sv, "HEIC"},
}};

QString ftypBrandType(QByteArrayView header)
{
    if (!MatchBytes(header, 4, "ftyp"sv))
        return QString();
    for (const Brand &brand : FtypBrands) {
        if (MatchBytes(header, 8, brand.bytes))
            return QLatin1String(brand.type);
    }
    return QString();
}

} // namespace

const QStringList &SupportedExtensions()
{
    static const QStringList list{
        QStringLiteral("AI"),   QStringLiteral("JPG"), QStringLiteral("PNG"),  QStringLiteral("GIF"),
        QStringLiteral("BMP"),  QStringLiteral("RAW"), QStringLiteral("PSD"),  QStringLiteral("PDF"),
        QStringLiteral("SVG"),  QStringLiteral("TGA"), QStringLiteral("JPEG"), QStringLiteral("WEBP"),
        QStringLiteral("HEIC"),
    };
    return list;
}

QString UpperCaseExtension(const QString &fileName)
{
    for (qsizetype i = fileName.size() - 1; i >= 0; --i) {
        const QChar c = fileName[i];
        if (isPathSeparator(c))
            break;
        if (c == QLatin1Char('.')) {
            QString ext = fileName.mid(i + 1);
            for (QChar &ch : ext) {
                if (ch >= QLatin1Char('a') && ch <= QLatin1Char('z'))
                    ch = QChar(ch.unicode() - 'a' + 'A');
            }
            return ext;
        }
    }
    return QString();
}

QString DetectImageTypeFromHeader(QByteArrayView header, const QString &fileName)
{
    QString result;
    if (header.size() == HeaderSize) {
        for (const Signature &row : Signatures) {
            if (MatchBytes(header, row.offset, row.bytes)) {
                result = QLatin1String(row.type);
                break;
            }
        }
        if (result.isEmpty())
            result = ftypBrandType(header);
    }

    const QString ext = UpperCaseExtension(fileName);
    if (result == QLatin1String("PDF") && ext == QLatin1String("AI"))
        result = ext;
    if (result.isEmpty() && SupportedExtensions().contains(ext))
        result = ext;
    // The image tool reads AVIF too; its files are named after it.
    if (result.isEmpty() && ext == QLatin1String("AVIF"))
        result = ext;
    return result;
}

QString DetectImageType(const QString &fileName)
{
    char header[HeaderSize];
    if (readHeader(fileName, header))
        return DetectImageTypeFromHeader(QByteArrayView(header, HeaderSize), fileName);
    return DetectImageTypeFromHeader(QByteArrayView(), fileName);
}
