#include "updatedialog.h"

#include "common.h"
#include "update.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSpacerItem>

namespace
{

// The notice's link: blue, underlined, hand cursor; a click opens the
// address held in its tool tip and leaves the dialog open.
class TUrlLabel : public QLabel
{
  public:
    TUrlLabel(const QString &text, const QString &url, QWidget *parent) : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        setToolTip(url);
        QFont underlined = font();
        underlined.setUnderline(true);
        setFont(underlined);
        QPalette blue = palette();
        blue.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xFF));
        setPalette(blue);
        setCursor(Qt::PointingHandCursor);
        adjustSize();
    }

  protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            OpenDocument(toolTip());
        QLabel::mouseReleaseEvent(event);
    }
};

// Keeps the separator and the extra control at their distances from the
// dialog's bottom edge whenever the dialog gets its size.
class TExtrasPlacer : public QObject
{
  public:
    TExtrasPlacer(QMessageBox *box, QFrame *separator, QWidget *extra, int separatorFromBottom,
                  int extraFromBottom, int left)
        : QObject(box), FBox(box), FSeparator(separator), FExtra(extra),
          FSeparatorFromBottom(separatorFromBottom), FExtraFromBottom(extraFromBottom), FLeft(left)
    {
        box->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == FBox && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            place();
        return false;
    }

  private:
    void place()
    {
        const int height = FBox->height();
        FSeparator->setGeometry(0, height - FSeparatorFromBottom, FBox->width(), 1);
        if (FExtra) {
            if (qobject_cast<QCheckBox *>(FExtra))
                FExtra->setGeometry(FLeft, height - FExtraFromBottom, FBox->width(),
                                    FExtra->sizeHint().height());
            else
                FExtra->move(FLeft, height - FExtraFromBottom);
            FExtra->raise();
        }
        FSeparator->raise();
    }

    QMessageBox *FBox;
    QFrame *FSeparator;
    QWidget *FExtra;
    int FSeparatorFromBottom;
    int FExtraFromBottom;
    int FLeft;
};

QString infoField(const QString &info, const QString &name)
{
    return JsonUnescape(
        ExtractBetween(info, QLatin1Char('"') + name + QStringLiteral("\":\""), QStringLiteral("\"")));
}

// Adds the room below the buttons, the separator line and, for "hold" or
// "note", the check box or the link. Returns the check box, if any.
QCheckBox *addExtras(QMessageBox &box, const QString &style, const QString &text, const QString &url,
                     int offset)
{
    const auto S = [&box](int v) { return ScaleToDpi(v, box.logicalDpiY()); };
    // Room below the buttons. The distances were made for a height that
    // includes the window frame; here the frame is not part of the dialog,
    // so they are taken from the top of that room instead.
    const int room = S(40 - offset);
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(0, room, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0,
                      1, grid->columnCount());

    auto *separator = new QFrame(&box);
    separator->setObjectName(QStringLiteral("updateSeparator"));
    separator->setFrameShape(QFrame::NoFrame);
    QPalette grey = separator->palette();
    grey.setColor(QPalette::Window, QColor(0xCC, 0xCC, 0xCC));
    separator->setPalette(grey);
    separator->setAutoFillBackground(true);

    QCheckBox *hold = nullptr;
    QWidget *extra = nullptr;
    if (style == QLatin1String("hold")) {
        hold = new QCheckBox(text, &box);
        hold->setObjectName(QStringLiteral("updateHold"));
        hold->setChecked(false);
        extra = hold;
    } else if (style == QLatin1String("note")) {
        extra = new TUrlLabel(text, url, &box);
        extra->setObjectName(QStringLiteral("updateLink"));
    }
    new TExtrasPlacer(&box, separator, extra, S(76 - offset) - room, S(66 - offset) - room, S(10));
    return hold;
}

} // namespace

int ScaleToDpi(int v, qreal dpi)
{
    const int percent = qRound(100.0 * dpi / 96.0);
    return qRound(v * percent / 100.0);
}

bool UpdateDialog(const QString &answer, const TUpdateNotice &notice)
{
    // Fields first: a malformed escape throws before anything is shown.
    const QString info = ExtractBetween(answer, QStringLiteral("\"info\":{"), QStringLiteral("}"));
    const QString style = infoField(info, QStringLiteral("style"));
    const QString text = infoField(info, QStringLiteral("text"));
    const QString flag = infoField(info, QStringLiteral("flag"));
    const QString url = infoField(info, QStringLiteral("url"));

    // The prompt's paragraphs are separated by carriage returns; Qt breaks
    // lines at line feeds.
    QString prompt = UpdateText(0, notice.Language);
    prompt.replace(QChar(13), QChar(10));
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), prompt,
                    QMessageBox::Yes | QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(UpdateText(1, notice.Language));
    box.button(QMessageBox::No)->setText(UpdateText(2, notice.Language));
    QPalette white = box.palette();
    white.setColor(QPalette::Window, QColor(0xFF, 0xFF, 0xFF));
    box.setPalette(white);
    box.setAutoFillBackground(true);
    if (flag.contains(QStringLiteral("stayontop")))
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);

    QCheckBox *hold = style.isEmpty() ? nullptr : addExtras(box, style, text, url, notice.LayoutOffset);
    const bool accepted = box.exec() == QMessageBox::Yes;
    if (hold && hold->isChecked() && notice.Hold)
        notice.Hold();
    return accepted;
}

TUpdateChecker *CheckUpdate(QObject *owner, const TUpdateConfig &config, UpdateCallback callback,
                            int layoutOffset)
{
    auto *checker = new TUpdateChecker(config, owner);
    const TUpdateNotice notice{config.Language, layoutOffset, [checker] { checker->SendHold(); }};
    checker->Check(std::move(callback),
                   [notice](const QString &answer) { return UpdateDialog(answer, notice); });
    return checker;
}
