#include "translatewidgets.h"

#include "filelist.h"
#include "translate.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

namespace {

void translateHeaders(QAbstractItemView *view)
{
    QAbstractItemModel *model = view->model();
    if (!model)
        return;
    if (auto *files = qobject_cast<TFileListModel *>(model)) {
        QStringList texts = files->headerTexts();
        for (QString &text : texts)
            text = Translate(text);
        files->setHeaderTexts(texts);
        return;
    }
    for (int section = 0; section < model->columnCount(); ++section) {
        const QString text = model->headerData(section, Qt::Horizontal).toString();
        model->setHeaderData(section, Qt::Horizontal, Translate(text));
    }
}

} // namespace

void TranslateMenuItem(QAction *item)
{
    if (!item)
        return;
    item->setText(Translate(item->text()));
    if (QMenu *sub = item->menu())
        TranslateMenuItem(sub);
}

void TranslateMenuItem(QMenu *menu)
{
    if (!menu)
        return;
    const QList<QAction *> items = menu->actions();
    for (QAction *item : items)
        TranslateMenuItem(item);
}

void TranslateComponent(QObject *component, const QString &language)
{
    if (!language.isEmpty())
        SetCurrentLanguage(language);
    if (!component)
        return;

    if (auto *combo = qobject_cast<QComboBox *>(component)) {
        for (int i = 0; i < combo->count(); ++i)
            combo->setItemText(i, Translate(combo->itemText(i)));
        return;
    }
    if (auto *view = qobject_cast<QAbstractItemView *>(component)) {
        translateHeaders(view);
        return;
    }

    if (auto *menu = qobject_cast<QMenu *>(component)) {
        TranslateMenuItem(menu);
        menu->setTitle(Translate(menu->title()));
    } else if (auto *widget = qobject_cast<QWidget *>(component); widget && widget->isWindow()) {
        widget->setWindowTitle(Translate(widget->windowTitle(), QStringLiteral("en")));
    } else if (auto *group = qobject_cast<QGroupBox *>(component)) {
        group->setTitle(Translate(group->title()));
    } else if (auto *label = qobject_cast<QLabel *>(component)) {
        label->setText(Translate(label->text()));
    } else if (auto *button = qobject_cast<QAbstractButton *>(component)) {
        button->setText(Translate(button->text()));
    } else if (auto *action = qobject_cast<QAction *>(component)) {
        action->setText(Translate(action->text()));
    }

    const QObjectList children = component->children();
    for (QObject *child : children)
        TranslateComponent(child);
}
