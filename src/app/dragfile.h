#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QWidget;

// Makes one control accept files and folders dropped on it (file URLs of
// local files, as a file manager drags them) and hands the dropped paths to
// a callback: one list per drop, every path whole and in the order the drop
// reports it, folders unexpanded. The drop is completed whatever the
// callback does with the list.
//
// For a scroll area (a list view) the drops are taken over its whole area:
// the viewport, including its empty part, and the control's own frame.
// Other controls of the window accept nothing. Destroying the object stops
// the acceptance and gives the control its previous drop handling back.
class TDragFile : public QObject
{
    Q_OBJECT
public:
    using DropProc = std::function<void(const QStringList &paths)>;

    TDragFile(QWidget *control, DropProc dropProc);
    ~TDragFile() override;

    TDragFile(const TDragFile &) = delete;
    TDragFile &operator=(const TDragFile &) = delete;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Target
    {
        QPointer<QWidget> widget;
        bool acceptedDrops; // the widget's own setting before we came
    };
    QList<Target> FTargets;
    DropProc FDropProc;
};
