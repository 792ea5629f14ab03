#include "theme.h"

#include "platform_window.h"
#include "themetalmerick.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <vector>

namespace
{

constexpr int AccentBarHeight = 2;

// Owns every theme made by ApplyTheme.
std::vector<std::unique_ptr<TTheme>> &ThemeList()
{
    static std::vector<std::unique_ptr<TTheme>> list;
    return list;
}

void DropTheme(TTheme *theme)
{
    auto &list = ThemeList();
    auto it = std::find_if(list.begin(), list.end(), [theme](const auto &t) { return t.get() == theme; });
    if (it != list.end())
        list.erase(it);
}

// A solid strip in one colour.
class TAccentBar : public QWidget
{
  public:
    explicit TAccentBar(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("ThemeAccentBar"));
        setFixedHeight(AccentBarHeight);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    QColor color() const { return FColor; }
    void setColor(const QColor &c)
    {
        if (c != FColor) {
            FColor = c;
            update();
        }
    }

  protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), FColor); }

  private:
    QColor FColor;
};

bool Initialised = false;

} // namespace

void InitTheme()
{
    if (Initialised)
        return;
    Initialised = true;
    RegisterButtonFamily(std::make_unique<TTalmerickButtonStyles>());
    qAddPostRoutine(DoneTheme);
}

void DoneTheme()
{
    ThemeList().clear();
    UnregisterButtonFamily(QStringLiteral("Talmerick"));
    Initialised = false;
}

TButtonAttributes ButtonStyleAttributes(const QString &family, const QString &buttonClass,
                                        const QString &appearance)
{
    if (const TButtonFamily *f = FindButtonFamily(family))
        return f->attributes(family, buttonClass, appearance);
    static const TTalmerickButtonStyles fallback;
    return fallback.attributes(family, buttonClass, QStringLiteral("Normal"));
}

TTheme::TTheme(QWidget *form) : FForm(form), FActiveColor(QColor::fromRgb(ThemeAccentRgb))
{
    RequestDarkTitleBar(form);

    auto *bar = new TAccentBar(form);
    FShape = bar;
    auto *box = qobject_cast<QBoxLayout *>(form->layout());
    if (box && box->direction() == QBoxLayout::TopToBottom) {
        box->insertWidget(0, bar);
    } else {
        // No vertical layout to take the bar: lay it over the top edge.
        FTrackGeometry = true;
        bar->setGeometry(0, 0, form->width(), AccentBarHeight);
        bar->raise();
    }
    bar->show();

    form->installEventFilter(this);
    // A theme lives no longer than its form: it leaves the list with it.
    connect(form, &QObject::destroyed, this, [this] {
        FForm = nullptr;
        DropTheme(this);
    });
    updateAccentBar();
}

TTheme::~TTheme()
{
    if (FForm)
        FForm->removeEventFilter(this);
}

QWidget *TTheme::accentBar() const
{
    return FShape;
}

QColor TTheme::accentColor() const
{
    auto *bar = static_cast<TAccentBar *>(FShape.data());
    return bar ? bar->color() : QColor();
}

bool TTheme::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FForm) {
        switch (event->type()) {
        case QEvent::WindowActivate:
            FIsActive = true;
            updateAccentBar();
            break;
        case QEvent::WindowDeactivate:
            FIsActive = false;
            updateAccentBar();
            break;
        case QEvent::ActivationChange:
            FIsActive = FForm->isActiveWindow();
            updateAccentBar();
            break;
        case QEvent::ApplicationPaletteChange:
            updateAccentBar();
            break;
        case QEvent::Resize:
            if (FTrackGeometry && FShape)
                FShape->setGeometry(0, 0, FForm->width(), AccentBarHeight);
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TTheme::updateAccentBar()
{
    auto *bar = static_cast<TAccentBar *>(FShape.data());
    if (!bar)
        return;
    // Disabled window text is the platform's "grey text" colour.
    bar->setColor(FIsActive ? FActiveColor
                            : QGuiApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
}

void ApplyTheme(QWidget *form, bool clearShowHandler)
{
    if (!form)
        return;
    auto &list = ThemeList();
    const bool done = std::any_of(list.begin(), list.end(), [form](const auto &t) {
        return t->form() == form && t->clearedShowHandler();
    });
    if (done)
        return;
    auto theme = std::make_unique<TTheme>(form);
    theme->setClearedShowHandler(clearShowHandler);
    list.push_back(std::move(theme));
}

TTheme *FindTheme(const QWidget *form)
{
    for (const auto &t : ThemeList())
        if (t->form() == form)
            return t.get();
    return nullptr;
}
