#pragma once

#include "themebuttonfamily.h"

#include <QPushButton>
#include <QString>

class QWidget;

// A push button painted by a registered button family: rounded rectangle with
// the given corner radius; "flat" draws the border only while hovered.
// Qt states map onto the family's states in this order: disabled → Disabled;
// down or checked → Pressed; under the mouse → Hot; focused by the keyboard
// → Selected; else Normal. A menu set with setMenu() gets no indicator.
class TStyledButton : public QPushButton
{
    Q_OBJECT
  public:
    explicit TStyledButton(QWidget *parent = nullptr);

    void setStyleFamily(const QString &family, const QString &appearance, int radius, bool flat = false);
    TButtonState currentState() const;

  protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

  private:
    QString FFamily = QStringLiteral("Talmerick");
    QString FAppearance = QStringLiteral("Normal");
    int FRadius = 6;
    bool FFlat = false;
};
