#include "indicator.h"

#include <QPainter>

#include <cmath>

namespace {
constexpr int kDots = 8;
const QColor kAccent(61, 132, 221);
} // namespace

TIndicator::TIndicator(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(sizeHint());
    FTimer.setInterval(90);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        FStep = (FStep + 1) % kDots;
        update();
    });
}

void TIndicator::start()
{
    FTimer.start();
}

void TIndicator::stop()
{
    FTimer.stop();
}

void TIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre = QRectF(rect()).center();
    const qreal side = qMin(width(), height());
    const qreal radius = side * 0.36;
    const qreal dot = side * 0.1;
    for (int i = 0; i < kDots; ++i) {
        // The head dot is solid; the ones behind it fade out.
        const int age = (FStep - i + kDots) % kDots;
        QColor colour = kAccent;
        colour.setAlphaF(1.0 - age * 0.11);
        painter.setBrush(colour);
        const qreal angle = 2 * M_PI * i / kDots - M_PI / 2;
        painter.drawEllipse(centre + QPointF(radius * std::cos(angle), radius * std::sin(angle)), dot, dot);
    }
}
