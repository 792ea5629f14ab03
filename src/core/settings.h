#pragma once

#include "formats.h"

#include <QString>

// What the user chose for a conversion: one plain value, read from the
// settings file or built from the command line. A job takes one copy when it
// starts; nothing in it changes while the job runs.
struct ConversionOptions {
    QString SaveFormat =
        QStringLiteral("JPG"); // "JPG", "PNG", ... or any text from /auto or the settings file
    QString SavePath;          // output folder ending in '/', or empty: next to each source
    bool UseWidth = false;     // resize every output to Width
    int Width = FormatLimits::DefaultWidth;     // pixels (at least 1)
    int Quality = FormatLimits::DefaultQuality; // encoder quality
    bool KeepMetadata = true;  // carry EXIF data into the output; off: strip metadata on every route
    bool KeepTree = false;     // outputs keep the folder structure below a walked folder
    int Workers = 0;           // conversions at once; 0: one per core
    int TimeoutSeconds = 0;    // base time-out of one tool run (scaled by input size); 0: the default
};
