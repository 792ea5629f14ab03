#pragma once

#include <QTimer>
#include <QWidget>

// A small turning ring of dots that shows that work is going on. It paints
// nothing but its dots, so it can sit over another control.
class TIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit TIndicator(QWidget *parent = nullptr);

    void start();
    void stop();
    bool isAnimating() const { return FTimer.isActive(); }

    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer FTimer;
    int FStep = 0;
};
