#pragma once

#include <QByteArray>
#include <QString>

// EXIF data carried from a JPEG source into a TIFF the image tool wrote (its
// TIFF writer leaves EXIF out).
namespace Engine
{
// tiff with the data of the APP1 "Exif" segment added: the EXIF and GPS
// directories, and the camera's own tags of the segment's first directory
// (description, make, model, software, date, artist, copyright) that tiff
// lacks. The new first directory goes to the end, so every page and pixel
// stays where it was. Empty when either cannot be read; tiff itself when
// the segment carries nothing.
QByteArray WithExifDirectories(const QByteArray &tiff, const QByteArray &segment);

// Puts the EXIF data of the JPEG source into the TIFF file target. Nothing
// to carry is no failure; on failure returns false with a short reason.
bool CarryExifIntoTiff(const QString &source, const QString &target, QString *reason);
} // namespace Engine
