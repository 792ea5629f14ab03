#include "theme.h"

// Placeholders until the theme lands.
void InitTheme() {}
TButtonAttributes ButtonStyleAttributes(const QString &, const QString &, const QString &) { return {}; }
TStyledButton::TStyledButton(QWidget *parent) : QPushButton(parent) {}
void TStyledButton::setStyleFamily(const QString &family, const QString &appearance, int radius, bool flat)
{
    FFamily = family;
    FAppearance = appearance;
    FRadius = radius;
    FFlat = flat;
}
TButtonState TStyledButton::currentState() const { return TButtonState::Normal; }
void TStyledButton::paintEvent(QPaintEvent *event) { QPushButton::paintEvent(event); }
void ApplyTheme(QWidget *, bool) {}
