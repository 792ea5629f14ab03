#include "svgrefs.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace Engine
{
namespace
{
// A reference that needs no file: a part of the drawing or embedded data.
bool isInternal(const QString &reference)
{
    return reference.isEmpty() || reference.startsWith(QLatin1Char('#')) ||
           reference.startsWith(QLatin1String("data:"), Qt::CaseInsensitive);
}

class TScanner
{
  public:
    explicit TScanner(TSvgReferences &found) : FFound(found) {}

    void Add(QString reference)
    {
        reference = reference.trimmed();
        if (!FFound.Problem.isEmpty() || isInternal(reference))
            return;
        FFound.Problem = SvgReferenceProblem(reference);
        if (FFound.Problem.isEmpty() && !FFound.Names.contains(reference))
            FFound.Names << reference;
    }

    // Every url(...) in a style or attribute value.
    void AddUrls(const QString &text)
    {
        static const QRegularExpression url(QStringLiteral("url\\(\\s*(['\"]?)([^)'\"]*)\\1\\s*\\)"),
                                            QRegularExpression::CaseInsensitiveOption);
        if (text.contains(QLatin1String("@import"), Qt::CaseInsensitive))
            refuse(QStringLiteral("the drawing imports a style sheet"));
        for (auto match = url.globalMatch(text); match.hasNext();)
            Add(match.next().captured(2));
    }

    void Dtd(const QXmlStreamReader &reader)
    {
        // A document type named by a web address is never fetched; any
        // other place would be a file read.
        const QString system = reader.dtdSystemId().toString();
        if (!system.isEmpty() && !system.startsWith(QLatin1String("http://")) &&
            !system.startsWith(QLatin1String("https://")))
            refuse(QStringLiteral("the drawing's document type refers to \"%1\"").arg(system));
        for (const QXmlStreamEntityDeclaration &entity : reader.entityDeclarations())
            if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty())
                refuse(QStringLiteral("the drawing declares an outside entity \"%1\"")
                           .arg(entity.name().toString()));
    }

    void Element(const QXmlStreamReader &reader)
    {
        for (const QXmlStreamAttribute &attribute : reader.attributes()) {
            const QStringView name = attribute.qualifiedName();
            if (name == QLatin1String("href") || name.endsWith(QLatin1String(":href")))
                Add(attribute.value().toString());
            else
                AddUrls(attribute.value().toString());
        }
    }

  private:
    void refuse(const QString &problem)
    {
        if (FFound.Problem.isEmpty())
            FFound.Problem = problem;
    }

    TSvgReferences &FFound;
};
} // namespace

TSvgReferences SvgReferences(const QByteArray &svg)
{
    TSvgReferences found;
    TScanner scanner(found);
    QXmlStreamReader reader(svg);
    // Prefixes are matched by name: a drawing that forgot to declare
    // "xlink" is still read the way the image tool reads it.
    reader.setNamespaceProcessing(false);
    bool elements = false;
    while (!reader.atEnd() && found.Problem.isEmpty()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            scanner.Dtd(reader);
            break;
        case QXmlStreamReader::StartElement:
            elements = true;
            scanner.Element(reader);
            break;
        case QXmlStreamReader::Characters:
            scanner.AddUrls(reader.text().toString());
            break;
        default:
            break;
        }
    }
    // A file that is no XML at all is read by the image tool as the picture
    // its first bytes say it is, which names no other file.
    if (found.Problem.isEmpty() && reader.hasError() && elements)
        found.Problem = QStringLiteral("the drawing could not be read: ") + reader.errorString();
    if (!found.Problem.isEmpty())
        found.Names.clear();
    return found;
}

QString SvgReferenceProblem(const QString &reference)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    const QString quoted = QLatin1Char('"') + reference + QLatin1Char('"');
    // "/x", "\\x" and a drive's path ("C:/x", "C:\\x") name a place outside the drawing's folder.
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[/\\\\]"));
    if (reference.startsWith(QLatin1Char('/')) || reference.startsWith(QLatin1Char('\\')) ||
        drive.match(reference).hasMatch())
        return QStringLiteral("the drawing refers to %1: an absolute path is not read").arg(quoted);
    if (scheme.match(reference).hasMatch())
        return QStringLiteral("the drawing refers to %1: only names beside the drawing are read").arg(quoted);
    if (reference.contains(QLatin1Char('\\')))
        return QStringLiteral("the drawing refers to %1: a name with '\\' is not read").arg(quoted);
    if (reference.split(QLatin1Char('/')).contains(QLatin1String("..")))
        return QStringLiteral("the drawing refers to %1: a name that climbs out of its folder is not read")
            .arg(quoted);
    // The image tool reads these as frame choices, patterns or file lists.
    static const QRegularExpression special(QStringLiteral("[\\[\\]*?%@<>|\\x00-\\x1f]"));
    if (special.match(reference).hasMatch())
        return QStringLiteral("the drawing refers to %1: a name with [ ] * ? % @ < > | is not read")
            .arg(quoted);
    return QString();
}
} // namespace Engine
