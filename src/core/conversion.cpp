#include "conversion.h"

// Placeholders until the pipelines land.
QString MakeOutputPath(const ConversionOptions &, const QString &, const QString &) { return QString(); }
bool ConvertRaster(const ConversionOptions &, const QString &, const QString &, int, const QString &) { return false; }
bool ConvertAi(const ConversionOptions &, const QString &) { return false; }
bool ConvertPdf(const ConversionOptions &, const QString &) { return false; }
