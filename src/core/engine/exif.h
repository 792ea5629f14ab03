#pragma once

#include <QByteArray>
#include <QString>

// EXIF data carried from a JPEG source into the JPEG the encoder wrote (the
// encoder itself writes none).
namespace Engine
{
// The whole APP1 "Exif" segment (marker included) of the JPEG file at path,
// or empty when it has none or is no JPEG.
QByteArray ExifSegmentOf(const QString &path);

// Sets the orientation tag of the segment's first image directory to 1
// (normal), for pixels that were turned already. A segment without the tag,
// or one that cannot be read, stays as it is.
void SetOrientationNormal(QByteArray &segment);

// jpeg with segment put right after the start marker and its JFIF header.
QByteArray WithSegment(const QByteArray &jpeg, const QByteArray &segment);

// Puts the EXIF segment of the JPEG source, its orientation set to normal,
// into the JPEG file target. Nothing to carry is no failure; on failure
// returns false with a short reason.
bool CarryExif(const QString &source, const QString &target, QString *reason);
} // namespace Engine
