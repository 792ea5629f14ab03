#include "list.h"

// Placeholders until detection lands.
const QStringList &SupportedExtensions()
{
    static const QStringList list;
    return list;
}

QString DetectImageType(const QString &)
{
    return QString();
}
