#pragma once

#include <QObject>

#include <atomic>

class QWidget;

// Tells the user, once per program run, that a setting could not be saved: a
// message box over the window with the settings file's path. Set up by the
// window; while this object lives it receives every failed settings write
// (from any thread) and shows the first one.
class TSettingsNotice : public QObject
{
    Q_OBJECT
  public:
    explicit TSettingsNotice(QWidget *window);
    ~TSettingsNotice() override;

  private:
    void Show(const QString &file);

    QWidget *FWindow;
    std::atomic<bool> FShown{false};
};
