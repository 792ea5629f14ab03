#pragma once

#include <QString>
#include <QStringList>

// The object each file-list row owns.
class TFileInfo
{
public:
    QString FileName; // the path exactly as added; the duplicate key
    QString Title;    // the file-name part of FileName; the row caption
    QString Format;   // the image type text, never empty in a row
};

// The 13 extensions accepted without a signature, upper case, in order.
const QStringList &SupportedExtensions();

// The image type text of a file ("JPG", "PNG", "PDF", "AI", ...) from its
// first 12 bytes (files of at least 13 bytes) and then its extension; empty
// when the file is not accepted. Never throws; a file that cannot be read is
// judged by its extension.
QString DetectImageType(const QString &fileName);
