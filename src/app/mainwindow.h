#pragma once

#include <QWidget>

// The program's one window.
class TFrmZarvelo : public QWidget
{
    Q_OBJECT
public:
    explicit TFrmZarvelo(const QStringList &arguments, QWidget *parent = nullptr);
};
