#include "themetalmerick.h"

#include <cmath>

QColor LightenColor(const QColor &c, int percent)
{
    auto channel = [percent](int x) { return x + ((255 - x) * percent + 50) / 100; };
    return QColor(channel(c.red()), channel(c.green()), channel(c.blue()));
}

QColor GreyColor(const QColor &c)
{
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    const double y = 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue();
    const int g = static_cast<int>(std::nearbyint(y));
    return QColor(g, g, g);
}

namespace
{

struct Row {
    bool FillSolid;
    QColor Fill;
    bool BorderSolid;
    QColor Border;
    QColor Text;
};

// The five states of one appearance; shape, border width and text style are
// the same in every state and keep their defaults.
TButtonAttributes FromRows(const Row (&rows)[5])
{
    TButtonAttributes a;
    for (int i = 0; i < 5; ++i) {
        a.States[i].FillSolid = rows[i].FillSolid;
        a.States[i].FillColor = rows[i].Fill;
        a.States[i].BorderSolid = rows[i].BorderSolid;
        a.States[i].BorderColor = rows[i].Border;
        a.States[i].TextColor = rows[i].Text;
    }
    return a;
}

} // namespace

TButtonAttributes TTalmerickButtonStyles::attributes(const QString &, const QString &,
                                                     const QString &appearance) const
{
    const QColor accent = QColor::fromRgb(ThemeAccentRgb);
    const QColor accentLight = LightenColor(accent, 10);
    const QColor white = Qt::white;
    const QColor black = Qt::black;
    constexpr bool solid = true;
    constexpr bool none = false;

    if (appearance.compare(QLatin1String("Outline"), Qt::CaseInsensitive) == 0) {
        const Row rows[5] = {
            {none, accent, solid, accent, black},       // Normal
            {solid, accent, solid, accent, white},      // Pressed
            {solid, accentLight, solid, accent, white}, // Selected
            {solid, accentLight, solid, accent, white}, // Hot
            {none, accent, solid, GreyColor(LightenColor(accent, 70)),
             GreyColor(LightenColor(black, 70))}, // Disabled
        };
        return FromRows(rows);
    }
    if (appearance.compare(QLatin1String("Header"), Qt::CaseInsensitive) == 0) {
        const Row rows[5] = {
            {none, white, solid, black, black},        // Normal
            {solid, accent, none, accent, white},      // Pressed
            {solid, accentLight, none, accent, white}, // Selected
            {solid, accent, none, accent, white},      // Hot
            {none, white, solid, GreyColor(LightenColor(accent, 50)),
             GreyColor(LightenColor(black, 50))}, // Disabled
        };
        return FromRows(rows);
    }
    const QColor silver = QColor::fromRgb(0xC0C0C0);
    const Row rows[5] = {
        {solid, accent, solid, accent, white},      // Normal
        {solid, accent, solid, accent, white},      // Pressed
        {solid, accent, solid, accent, white},      // Selected
        {solid, accentLight, solid, accent, white}, // Hot
        {solid, white, solid, silver, silver},      // Disabled
    };
    return FromRows(rows);
}

QString TTalmerickButtonStyles::familyName() const
{
    return QStringLiteral("Talmerick");
}

QStringList TTalmerickButtonStyles::buttonClasses() const
{
    return {QStringLiteral("Primary")};
}

QStringList TTalmerickButtonStyles::buttonAppearances() const
{
    return {QStringLiteral("Normal"), QStringLiteral("Header"), QStringLiteral("Outline")};
}

TButtonStyleName TTalmerickButtonStyles::defaultStyle(QDialogButtonBox::StandardButton) const
{
    return {QStringLiteral("Primary"), QStringLiteral("Normal")};
}
