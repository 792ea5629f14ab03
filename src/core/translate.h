#pragma once

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>

// The translation table: blocks of "lang=text" lines (ko, en, ja, zh, ru, it,
// fr), one block per message, blocks separated by an empty line. Korean texts
// are the keys; English is the fallback.
//
// Threads: the table and the current language are written only by module
// start-up (InitTranslation) and by the setters below, which must not run
// while another thread translates. Lookups only read, without a lock.

// Module start-up: loads the built-in table (resource ":/translate.txt") and
// fixes the current language from the user's locale. Call once, before any
// window exists and before any other thread calls Translate. A table that
// cannot be read leaves the table empty (every text is shown as written).
void InitTranslation();

// A translation table read from its text (UTF-8, optional BOM; lines end in
// CR LF, LF or CR). The program uses the built-in one (Translate).
class TTranslationTable
{
  public:
    TTranslationTable() = default;
    explicit TTranslationTable(const QByteArray &utf8);

    // text in language, or, when language is empty, in current (the
    // language in force), as Translate below describes.
    QString Translate(const QString &text, const QString &current, const QString &language = QString()) const;

  private:
    struct Line {
        bool separator = false; // an empty line: ends a block
        QString name;           // before the first '='; empty when the line has none
        QString text;           // after the first '='; empty when the line has none
    };
    QList<Line> FLines;
};

// The language in force, normally two letters.
QString CurrentLanguage();
void SetCurrentLanguage(const QString &language);

// The text in the language in force (or in language, when given); the text
// itself where the table has nothing. Korean texts are the keys, but any text
// of a block finds its block. The two characters '\' 'n' become a carriage
// return. While the language in force is "ko" nothing is looked up.
QString Translate(const QString &text, const QString &language = QString());

// The user's ISO 639 language code ("ko", "en", ...); "en" when none.
QString GetUserLanguage();

// The lower-case ISO 639 code of the locale's language (two letters where the
// language has them, else three); "en" for the C/POSIX locale and when none.
QString LanguageCodeOf(const QLocale &locale);
