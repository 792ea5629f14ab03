#pragma once

#include <QByteArray>
#include <QString>

// Module start-up: loads the built-in table (resource ":/translate.txt") and
// fixes the current language from the user's locale. Call once, before any
// window exists and before any other thread calls Translate.
void InitTranslation();

// Replaces the table with the given text (UTF-8, optional BOM). For tests.
void LoadTranslationTable(const QByteArray &utf8);

// The language in force, normally two letters.
QString CurrentLanguage();
void SetCurrentLanguage(const QString &language);

// The text in the language in force (or in language, when given); the text
// itself where the table has nothing. Korean texts are the keys.
QString Translate(const QString &text, const QString &language = QString());

// The user's ISO 639 language code ("ko", "en", ...); "en" when none.
QString GetUserLanguage();
