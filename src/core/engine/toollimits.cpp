#include "toollimits.h"

#include "arguments.h"
#include "platform.h"
#include "tools.h"

#include <QMutex>
#include <QRegularExpression>

namespace Engine
{
qint64 ParsePixelLimit(const QString &text, qint64 fallback)
{
    static const QRegularExpression number(QStringLiteral("^([0-9.]+)\\s*([KMGTP]?)P"));
    const QRegularExpressionMatch match = number.match(text.trimmed());
    if (!match.hasMatch())
        return fallback;
    double value = match.captured(1).toDouble();
    const QString unit = match.captured(2);
    for (const char *step : {"K", "M", "G", "T", "P"}) {
        value *= 1000;
        if (unit == QLatin1String(step))
            break;
        if (unit.isEmpty()) {
            value /= 1000;
            break;
        }
    }
    return value >= 1 && value < 1e15 ? static_cast<qint64>(value) : fallback;
}

TPixelLimits ParseResourceList(const QString &printed, TPixelLimits fallback)
{
    TPixelLimits limits = fallback;
    const QStringList lines = printed.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString key = line.section(QLatin1Char(':'), 0, 0).trimmed();
        const QString value = line.section(QLatin1Char(':'), 1).trimmed();
        if (key == QLatin1String("Width"))
            limits.Width = ParsePixelLimit(value, limits.Width);
        else if (key == QLatin1String("Height"))
            limits.Height = ParsePixelLimit(value, limits.Height);
    }
    return limits;
}

TPixelLimits ImageToolLimits()
{
    static QMutex mutex;
    static bool known = false;
    static TPixelLimits limits;
    QMutexLocker lock(&mutex);
    if (known)
        return limits;
    ToolRequest request;
    request.Program = ExternalToolPath(ExternalTool::ImageTool);
    request.Arguments = ResourceListArguments();
    request.TimeoutMs = 30000;
    const ToolOutcome outcome = RunTool(request);
    if (!outcome.Finished())
        return limits;
    limits = ParseResourceList(outcome.Printed, limits);
    known = true;
    return limits;
}
} // namespace Engine
