#include "translate.h"

// Placeholders until the lookup lands.
namespace {
QString g_language = QStringLiteral("en");
}
void InitTranslation() {}
void LoadTranslationTable(const QByteArray &) {}
QString CurrentLanguage() { return g_language; }
void SetCurrentLanguage(const QString &language) { g_language = language; }
QString Translate(const QString &text, const QString &) { return text; }
QString GetUserLanguage() { return QStringLiteral("en"); }
