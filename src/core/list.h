#pragma once

#include "reasons.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

// The object each file-list row owns.
class TFileInfo
{
  public:
    QString FileName; // the path exactly as added; the duplicate key
    QString Title;    // the file-name part of FileName; the row caption
    QString Format;   // the image type text; empty only in a refused row
    QString Root;     // the folder a walk started from, ending in '/'; empty for a file given by itself
    QString Identity; // device and inode (FolderIdentity); empty when unknown
    // Why intake refused the entry (a name that is not valid UTF-8, a folder
    // that cannot be read): the row fails in every run without a tool run.
    TReasonKind Refused = TReasonKind::None;
};

// The 13 extensions accepted without a signature, upper case, in order.
const QStringList &SupportedExtensions();

// The image type text of a file ("JPG", "PNG", "PDF", "AI", ...) from its
// first 12 bytes (files of at least 13 bytes: the signature table, then the
// brand of a HEIF container, "HEIC" or "AVIF") and then its extension; empty
// when the file is not accepted. Never throws; a file that cannot be read is
// judged by its extension. Reads at most 12 bytes with one open and one
// close; anything but a regular file (folder, pipe, device) is never read.
QString DetectImageType(const QString &fileName);

// The decision of DetectImageType once the file has been read: header holds
// bytes 0 to 11 of the file, or is empty when the file was not examined (too
// short, unreadable, missing). Any other header size counts as not examined.
QString DetectImageTypeFromHeader(QByteArrayView header, const QString &fileName);

// The extension of the last path component (text after its last dot, without
// the dot; empty when it has none), with only ASCII a-z upper-cased.
QString UpperCaseExtension(const QString &fileName);
