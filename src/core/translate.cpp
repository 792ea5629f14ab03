#include "translate.h"

#include <QFile>
#include <QList>

TTranslationTable::TTranslationTable(const QByteArray &utf8)
{
    QByteArrayView bytes(utf8);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    const QString text = QString::fromUtf8(bytes);

    // CR LF, a lone LF and a lone CR each end a line; a line end after the
    // last line adds no empty line.
    QList<QStringView> raw;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        raw.append(QStringView(text).sliced(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        raw.append(QStringView(text).sliced(start));

    FLines.reserve(raw.size());
    for (QStringView view : raw) {
        Line line;
        if (view.isEmpty()) {
            line.separator = true;
        } else if (const qsizetype eq = view.indexOf(QLatin1Char('=')); eq >= 0) {
            line.name = view.first(eq).toString();
            line.text = view.sliced(eq + 1).toString();
        }
        FLines.append(line);
    }
}

namespace
{

struct State {
    TTranslationTable table;
    QString language;
};

TTranslationTable loadBuiltInTable()
{
    QFile file(QStringLiteral(":/translate.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return TTranslationTable();
    return TTranslationTable(file.readAll());
}

State &state()
{
    // Filled on first use as well, so a lookup before InitTranslation still
    // sees the built-in table; the initialisation itself is thread-safe.
    static State s{loadBuiltInTable(), GetUserLanguage().left(2)};
    return s;
}

QString expandLineBreaks(const QString &text)
{
    QString result = text;
    result.replace(QLatin1String("\\n"), QStringLiteral("\r"));
    return result;
}

} // namespace

void InitTranslation()
{
    State &s = state();
    s.table = loadBuiltInTable();
    s.language = GetUserLanguage().left(2);
}

QString CurrentLanguage()
{
    return state().language;
}

void SetCurrentLanguage(const QString &language)
{
    state().language = language;
}

QString Translate(const QString &text, const QString &language)
{
    const State &s = state();
    return s.table.Translate(text, s.language, language);
}

QString TTranslationTable::Translate(const QString &text, const QString &current,
                                     const QString &language) const
{
    const QString result = expandLineBreaks(text);
    if (text.isEmpty() || current == QLatin1String("ko"))
        return result;
    const QString &wanted = language.isEmpty() ? current : language;

    const QList<Line> &table = FLines;
    qsizetype hit = 0;
    while (hit < table.size() && (table[hit].separator || table[hit].text != text))
        ++hit;
    if (hit == table.size())
        return result;

    qsizetype blockStart = hit;
    while (blockStart > 0 && !table[blockStart - 1].separator)
        --blockStart;

    for (const QString &lang : {wanted, QStringLiteral("en")}) {
        for (qsizetype i = blockStart; i < table.size() && !table[i].separator; ++i) {
            if (table[i].name == lang)
                return expandLineBreaks(table[i].text);
        }
    }
    return result;
}

QString LanguageCodeOf(const QLocale &locale)
{
    const QLocale::Language language = locale.language();
    if (language == QLocale::C || language == QLocale::AnyLanguage)
        return QStringLiteral("en");
    const QString code = QLocale::languageToCode(language).toLower();
    return code.isEmpty() ? QStringLiteral("en") : code;
}

QString GetUserLanguage()
{
    return LanguageCodeOf(QLocale::system());
}
