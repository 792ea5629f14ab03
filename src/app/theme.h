#pragma once

#include <QColor>
#include <QPushButton>
#include <QString>

class QWidget;

// The five states a styled button is painted in.
enum class TButtonState { Normal, Pressed, Selected, Hot, Disabled };

// How one state of a styled button is painted.
struct TButtonStateAttributes
{
    bool FillSolid = false;
    QColor FillColor;
    bool BorderSolid = false;
    QColor BorderColor;
    QColor TextColor;
};

struct TButtonAttributes
{
    TButtonStateAttributes States[5]; // indexed by TButtonState
};

// Module start-up: registers the "Talmerick" button family.
void InitTheme();

// The attributes of family / class / appearance; an unknown appearance gets
// "Normal". Unknown families give the Normal scheme of "Talmerick".
TButtonAttributes ButtonStyleAttributes(const QString &family, const QString &buttonClass,
                                        const QString &appearance);

// A push button painted by a registered button family: rounded rectangle with
// the given corner radius; "flat" draws the border only while hovered.
class TStyledButton : public QPushButton
{
    Q_OBJECT
public:
    explicit TStyledButton(QWidget *parent = nullptr);

    void setStyleFamily(const QString &family, const QString &appearance, int radius, bool flat = false);
    TButtonState currentState() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString FFamily = QStringLiteral("Talmerick");
    QString FAppearance = QStringLiteral("Normal");
    int FRadius = 6;
    bool FFlat = false;
};

// Gives the form its accent bar (2 px at the top of its layout, blue while
// active, grey while not) and, on Windows, the dark title bar. Called from the
// form's first show; with clearShowHandler true later shows add nothing.
void ApplyTheme(QWidget *form, bool clearShowHandler);
