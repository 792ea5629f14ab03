#pragma once

#include "themebuttonfamily.h"

// The program's accent colour, #3D84DD.
inline constexpr QRgb ThemeAccentRgb = 0x3D84DD;

// Each channel x becomes x + (255 - x) * percent / 100, the added part rounded
// to the nearest integer with halves rounded up.
QColor LightenColor(const QColor &c, int percent);
// All channels become 0.299 R + 0.587 G + 0.114 B, rounded to the nearest
// integer with ties going to the even one.
QColor GreyColor(const QColor &c);

// The "Talmerick" family: class "Primary"; appearances "Normal", "Header"
// (the header toolbar) and "Outline" (the start button). Any other
// appearance, and any class, is painted with the "Normal" scheme.
class TTalmerickButtonStyles : public TButtonFamily
{
  public:
    TButtonAttributes attributes(const QString &family, const QString &buttonClass,
                                 const QString &appearance) const override;
    QString familyName() const override;
    QStringList buttonClasses() const override;
    QStringList buttonAppearances() const override;
    TButtonStyleName defaultStyle(QDialogButtonBox::StandardButton result) const override;
};
