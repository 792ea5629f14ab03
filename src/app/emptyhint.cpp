#include "emptyhint.h"

#include "translate.h"

#include <QAbstractItemView>
#include <QEvent>

TEmptyHint::TEmptyHint(QAbstractItemView *view) : QLabel(view->viewport()), FView(view)
{
    setObjectName(QStringLiteral("LblEmptyHint"));
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // A style sheet, so that the window's theme does not override the grey.
    setStyleSheet(QStringLiteral("color: #808080; background: transparent;"));
    view->viewport()->installEventFilter(this);
    if (QAbstractItemModel *model = view->model()) {
        for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            connect(model, signal, this, &TEmptyHint::Refresh);
        connect(model, &QAbstractItemModel::modelReset, this, &TEmptyHint::Refresh);
        connect(model, &QAbstractItemModel::layoutChanged, this, &TEmptyHint::Refresh);
    }
    Refresh();
}

void TEmptyHint::Refresh()
{
    const QAbstractItemModel *model = FView->model();
    const bool empty = !model || model->rowCount() == 0;
    if (empty) {
        setText(Translate(QStringLiteral("파일이나 폴더를 여기에 끌어다 놓거나 Ctrl+O를 누르세요")));
        const QRect area = FView->viewport()->rect();
        setGeometry(area.adjusted(24, 0, -24, 0));
    }
    setVisible(empty);
}

bool TEmptyHint::eventFilter(QObject *watched, QEvent *event)
{
    // Follows the viewport's size, and the language in force when shown again.
    if (watched == FView->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        Refresh();
    return QLabel::eventFilter(watched, event);
}
