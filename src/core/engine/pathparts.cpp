#include "pathparts.h"

#include <algorithm>

namespace Engine
{
namespace
{
const QLatin1Char slash('/');
}

QString FileNamePart(const QString &path)
{
    return path.mid(path.lastIndexOf(slash) + 1);
}

QString FolderPart(const QString &path)
{
    return path.left(path.lastIndexOf(slash) + 1);
}

QString WithoutExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

bool IsPlainWord(const QString &text)
{
    if (text.isEmpty() || text.size() > 16)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    });
}

QString PlainExtension(const QString &path)
{
    const QString name = FileNamePart(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1);
    return IsPlainWord(extension) ? extension : QString();
}

QString FirstLine(const QString &text)
{
    return text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
}
} // namespace Engine
