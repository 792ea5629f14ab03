#pragma once

#include <QLabel>

class QAbstractItemView;

// A short translated hint over an empty list ("drop files or folders here,
// or press Ctrl+O"), centred in the list's viewport. Shown exactly while the
// list has no rows; it takes no mouse events, so drops and the list's menu
// reach the list underneath.
class TEmptyHint : public QLabel
{
    Q_OBJECT
  public:
    explicit TEmptyHint(QAbstractItemView *view);

    // Shows or hides the hint for the list's row count, in the language in force.
    void Refresh();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    QAbstractItemView *FView;
};
