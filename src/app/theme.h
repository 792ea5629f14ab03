#pragma once

#include "themebuttonfamily.h"
#include "themestyledbutton.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// Module start-up: registers the "Talmerick" button family and arranges for
// DoneTheme at application shutdown. Calling it again does nothing.
void InitTheme();

// Module shutdown: frees every theme and unregisters the button family.
void DoneTheme();

// The attributes of family / class / appearance; an unknown appearance gets
// "Normal". Unknown families give the Normal scheme of "Talmerick".
TButtonAttributes ButtonStyleAttributes(const QString &family, const QString &buttonClass,
                                        const QString &appearance);

// The look a form gets from ApplyTheme: a dark title bar (Windows only) and
// a 2-pixel accent bar across the top, #3D84DD while the form is the active
// window and the system's grey-text colour while it is not. The bar is a child
// of the form; it is put first in the form's vertical box layout, so
// everything below moves down 2 pixels.
class TTheme : public QObject
{
    Q_OBJECT
  public:
    explicit TTheme(QWidget *form);
    ~TTheme() override;

    QWidget *form() const { return FForm; }
    QWidget *accentBar() const;
    bool isActive() const { return FIsActive; }
    // The colour the accent bar shows now.
    QColor accentColor() const;

    // Whether the call that made this theme also retired the form's show
    // handler: later ApplyTheme calls for the form then add nothing.
    bool clearedShowHandler() const { return FClearedShowHandler; }
    void setClearedShowHandler(bool cleared) { FClearedShowHandler = cleared; }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void updateAccentBar();

    QPointer<QWidget> FForm;
    QColor FActiveColor;
    bool FIsActive = true;
    QPointer<QWidget> FShape;
    bool FClearedShowHandler = false;
    bool FTrackGeometry = false; // bar placed by hand: follow the form's width
};

// Makes a TTheme for the form and keeps it in the module's theme list, which
// owns it (a theme goes when its form is destroyed, or at DoneTheme). With
// clearShowHandler true the form counts as themed for good: calling again for
// the same form (a later show) adds no second bar.
void ApplyTheme(QWidget *form, bool clearShowHandler);

// The theme list's first theme for the form, or null.
TTheme *FindTheme(const QWidget *form);
