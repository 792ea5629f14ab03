#include "mainwindow.h"

TFrmZarvelo::TFrmZarvelo(const QStringList &, QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Zarvelo"));
    resize(429, 483);
}
