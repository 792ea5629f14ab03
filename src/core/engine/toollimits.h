#pragma once

#include <QString>

namespace Engine
{
// The largest picture the image tool takes, from its resource policy.
struct TPixelLimits {
    qint64 Width = 16000;
    qint64 Height = 16000;
};

// A pixel count of the resource list ("16KP", "1.5MP", "128P"); fallback
// when the text is none.
qint64 ParsePixelLimit(const QString &text, qint64 fallback);

// The width and height limits in the image tool's "-list resource" text;
// a limit it does not name stays as in fallback.
TPixelLimits ParseResourceList(const QString &printed, TPixelLimits fallback = TPixelLimits());

// The image tool's limits, asked from the tool once per process (it does not
// change while the program runs); the defaults when it cannot be asked.
TPixelLimits ImageToolLimits();
} // namespace Engine
