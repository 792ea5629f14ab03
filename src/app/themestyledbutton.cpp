#include "themestyledbutton.h"

#include "theme.h"

#include <QPainter>

TStyledButton::TStyledButton(QWidget *parent) : QPushButton(parent)
{
}

void TStyledButton::setStyleFamily(const QString &family, const QString &appearance, int radius, bool flat)
{
    FFamily = family;
    FAppearance = appearance;
    FRadius = radius;
    FFlat = flat;
    update();
}

TButtonState TStyledButton::currentState() const
{
    if (!isEnabled())
        return TButtonState::Disabled;
    if (isDown() || isChecked())
        return TButtonState::Pressed;
    if (underMouse())
        return TButtonState::Hot;
    // Focus from a click leaves the look alone; only focus reached with the
    // keyboard (the same rule Qt's styles use for their focus frame) shows.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange))
        return TButtonState::Selected;
    return TButtonState::Normal;
}

void TStyledButton::paintEvent(QPaintEvent *)
{
    const TButtonAttributes all = ButtonStyleAttributes(FFamily, QStringLiteral("Primary"), FAppearance);
    const TButtonStateAttributes &a = all[currentState()];
    const bool border = a.BorderSolid && (!FFlat || underMouse());

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (border) {
        // A cosmetic pen on the half-pixel grid keeps the line one crisp pixel.
        QPen pen(a.BorderColor);
        pen.setWidth(a.BorderWidth);
        p.setPen(pen);
        p.setBrush(a.FillSolid ? QBrush(a.FillColor) : QBrush(Qt::NoBrush));
        const qreal r = qMax<qreal>(0, FRadius - 0.5);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), r, r);
    } else if (a.FillSolid) {
        p.setPen(Qt::NoPen);
        p.setBrush(a.FillColor);
        p.drawRoundedRect(QRectF(rect()), FRadius, FRadius);
    }

    p.setPen(a.TextColor);
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
}

void TStyledButton::enterEvent(QEnterEvent *event)
{
    QPushButton::enterEvent(event);
    update();
}

void TStyledButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    update();
}
