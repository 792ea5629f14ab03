#include "mainwindow.h"

#include "addfiles.h"
#include "common.h"
#include "config.h"
#include "dragfile.h"
#include "emptyhint.h"
#include "filelist.h"
#include "indicator.h"
#include "job.h"
#include "settingsnotice.h"
#include "theme.h"
#include "translate.h"
#include "translatewidgets.h"
#include "update.h"
#include "updatedialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

namespace {

const QStringList kFormats{QStringLiteral("JPG"), QStringLiteral("PNG"), QStringLiteral("GIF"),
                           QStringLiteral("WEBP"), QStringLiteral("TIFF")};

// The largest width accepted: the widest image the output formats can hold
// (JPEG and TIFF stop at 65535 pixels).
constexpr int kMaxWidth = 65535;

const QString kSettingsName = QStringLiteral("Zarvelo");

// A spin box's value is its text as typed; text that is no integer counts
// as the box's lower bound.
int spinValue(const QSpinBox *box)
{
    bool ok = false;
    const int value = box->cleanText().trimmed().toInt(&ok);
    return ok ? value : box->minimum();
}

// Button captions treat '&' as a shortcut mark; a folder name shows it as is.
QString literalCaption(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The logo: SVG drawn at whatever size the widget has.
class TSvgImage : public QWidget
{
public:
    TSvgImage(const QString &file, QWidget *parent) : QWidget(parent), FRenderer(file) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        FRenderer.render(&painter, QRectF(rect()));
    }

private:
    QSvgRenderer FRenderer;
};

template <typename W> W *named(W *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

// "m:ss", or "h:mm:ss" from an hour on.
QString durationText(qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, sec = seconds % 60;
    const auto two = [](qint64 v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(two(m), two(sec)) : QStringLiteral("%1:%2").arg(m).arg(two(sec));
}

} // namespace

bool OpenLocalFolder(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(folder).absoluteFilePath()));
}

bool SelectFolder(QString &path, QWidget *parent)
{
    QFileDialog dialog(parent, Translate(QStringLiteral("폴더 선택")), path);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, Translate(QStringLiteral("선택")));
    if (!path.isEmpty())
        dialog.selectFile(path);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    QString folder = QDir::cleanPath(chosen.first());
    if (!QFileInfo(folder).isDir())
        return false;
    path = folder;
    return true;
}

TFrmZarvelo::TFrmZarvelo(const QStringList &arguments, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FrmZarvelo"));
    setWindowTitle(QStringLiteral("Zarvelo"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/logo.svg")));
    setFixedSize(429, 483);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    FModel = new TFileListModel(this);
    FModel->setHeaderTexts({QStringLiteral("파일이름"), QStringLiteral("타입"), QStringLiteral("상태")});

    // The theme puts its accent bar at index 0 of this layout.
    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);

    PnlHead = named(new QWidget(this), QStringLiteral("PnlHead"));
    PnlHead->setFixedHeight(50);
    buildHeader(PnlHead);
    top->addWidget(PnlHead);

    PnlMain = named(new QStackedWidget(this), QStringLiteral("PnlMain"));
    PnlMain->setContentsMargins(3, 3, 3, 3);
    PnlMain->addWidget(buildHomeCard());
    PnlMain->addWidget(buildSettingCard());
    top->addWidget(PnlMain, 1);

    ProgressBar = named(new QProgressBar(this), QStringLiteral("ProgressBar"));
    ProgressBar->setFixedHeight(17);
    ProgressBar->setTextVisible(false);
    ProgressBar->setRange(0, 0);
    ProgressBar->setValue(0);
    ProgressBar->hide();
    top->addWidget(ProgressBar);

    PopSave = named(new QMenu(this), QStringLiteral("PopSave"));
    for (const QString &format : kFormats) {
        QAction *item = PopSave->addAction(format);
        item->setObjectName(QStringLiteral("Chk") + format);
    }
    buildListMenu();
    // Adding without dragging, the empty-list hint, the notice of unsaved settings.
    new TAddFiles(
        this, PopList, [this] { return !AutoMode && BtnStart->isEnabled(); },
        [this](const QStringList &paths) { AddFile(paths); });
    new TEmptyHint(ListFile);
    new TSettingsNotice(this);

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connectHandlers();

    // Start-up, in this order.
    PnlMain->setCurrentIndex(0);
    Indicator->hide();
    TranslateComponent(this);
    FitCaptions();
    QGuiApplication::setApplicationDisplayName(Translate(windowTitle()));
    EditInfo->setText(Translate(QStringLiteral("버전")) + QStringLiteral(": ") +
                      GetVersionString(QStringLiteral("%d.%d.%d")));
    LoadSettings();
    AutoMode = false;
    if (StartAutoMode(arguments))
        return;

    DragFile = std::make_unique<TDragFile>(ListFile, [this](const QStringList &paths) { AddFile(paths); });
    // "Open with": arguments that name existing files or folders are listed.
    AddFile(ExistingPaths(arguments));
    const QPointer<TFrmZarvelo> self(this);
    CheckUpdate(
        this, ConfiguredUpdateConfig(),
        [self](bool accepted, const QString &) {
            if (accepted && self)
                self->close();
        },
        10);
}

TFrmZarvelo::~TFrmZarvelo()
{
    // The job's workers end before the rows and options they report on go.
    if (FJob) {
        FJob->disconnect(this);
        delete FJob;
    }
    StopUpdateChecks(this);
    DragFile.reset();
}

void TFrmZarvelo::buildHeader(QWidget *head)
{
    PnlLogo = named(new QWidget(head), QStringLiteral("PnlLogo"));
    PnlLogo->setGeometry(width() - 120, 0, 120, 50);
    ImgLogo = named(new TSvgImage(QStringLiteral(":/logo.svg"), PnlLogo), QStringLiteral("ImgLogo"));
    ImgLogo->setGeometry(3, 0, 112, 50);
    ImgLogo->setCursor(Qt::PointingHandCursor);
    ImgLogo->installEventFilter(this);

    BtnHead = named(new QWidget(head), QStringLiteral("BtnHead"));
    BtnHead->setGeometry(10, 10, width() - 120 - 20, 30);
    HeadGroup = new QButtonGroup(this);
    HeadGroup->setExclusive(true);
    const QList<std::pair<TStyledButton **, QString>> buttons{
        {&BtnHome, QStringLiteral("BtnHome")},
        {&BtnConfig, QStringLiteral("BtnConfig")},
        {&BtnDonate, QStringLiteral("BtnDonate")},
    };
    const QStringList captions{QStringLiteral("처음화면"), QStringLiteral("환경설정"), QStringLiteral("후원하기")};
    int left = 10;
    for (int i = 0; i < buttons.size(); ++i) {
        auto *button = named(new TStyledButton(BtnHead), buttons[i].second);
        button->setStyleFamily(QStringLiteral("Talmerick"), QStringLiteral("Header"), 4, true);
        button->setCheckable(true);
        button->setText(captions[i]);
        button->setGeometry(left, 0, 70, 30);
        button->setFocusPolicy(Qt::TabFocus);
        HeadGroup->addButton(button);
        *buttons[i].first = button;
        left += 70;
    }
    BtnHome->setChecked(true);
    BtnDonate->hide();
}

QWidget *TFrmZarvelo::buildHomeCard()
{
    auto *card = named(new QWidget, QStringLiteral("PnlHome"));
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(0);

    ListFile = named(new QTreeView(card), QStringLiteral("ListFile"));
    ListFile->setModel(FModel);
    ListFile->setRootIsDecorated(false);
    ListFile->setItemsExpandable(false);
    ListFile->setUniformRowHeights(true);
    ListFile->setAllColumnsShowFocus(true);
    ListFile->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListFile->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListFile->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListFile->setSortingEnabled(false);
    ListFile->setDragDropMode(QAbstractItemView::NoDragDrop);
    ListFile->setTextElideMode(Qt::ElideMiddle);
    ListFile->header()->setStretchLastSection(false);
    ListFile->header()->setSectionsMovable(false);
    ListFile->header()->resizeSection(TFileListModel::ColumnName, 260);
    ListFile->header()->resizeSection(TFileListModel::ColumnType, 60);
    ListFile->header()->resizeSection(TFileListModel::ColumnStatus, 60);
    ListFile->setContextMenuPolicy(Qt::CustomContextMenu);
    ListFile->installEventFilter(this);
    layout->addWidget(ListFile, 1);

    auto *menu = named(new QWidget(card), QStringLiteral("PnlMenu"));
    menu->setFixedHeight(48);
    auto *menuLayout = new QHBoxLayout(menu);
    menuLayout->setContentsMargins(1, 1, 1, 1);
    menuLayout->setSpacing(4);
    // The last job's summary and the way to its output folder, left of the button.
    LblSummary = named(new QLabel(menu), QStringLiteral("LblSummary"));
    LblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LblSummary->hide();
    menuLayout->addWidget(LblSummary);
    BtnOpenFolder = named(new QToolButton(menu), QStringLiteral("BtnOpenFolder"));
    BtnOpenFolder->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    BtnOpenFolder->setAutoRaise(true);
    BtnOpenFolder->setToolTip(QStringLiteral("출력 폴더 열기"));
    BtnOpenFolder->hide();
    menuLayout->addWidget(BtnOpenFolder);
    menuLayout->addStretch(1);
    PnlStart = named(new QWidget(menu), QStringLiteral("PnlStart"));
    PnlStart->setFixedWidth(120);
    menuLayout->addWidget(PnlStart);
    layout->addWidget(menu);
    QWidget *start = PnlStart;

    BtnStart = named(new TStyledButton(start), QStringLiteral("BtnStart"));
    BtnStart->setStyleFamily(QStringLiteral("Talmerick"), QStringLiteral("Outline"), 6);
    BtnStart->setGeometry(0, 8, 120, 35);
    BtnStart->setContextMenuPolicy(Qt::CustomContextMenu);

    Indicator = named(new TIndicator(start), QStringLiteral("Indicator"));
    Indicator->move(49, 13);
    Indicator->raise();
    return card;
}

QWidget *TFrmZarvelo::buildSettingCard()
{
    auto *card = named(new QWidget, QStringLiteral("PnlSetting"));
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *options = new QWidget(card);
    layout->addWidget(options, 1);

    GrpOutput = named(new QGroupBox(QStringLiteral("저장경로"), options), QStringLiteral("GrpOutput"));
    GrpOutput->setGeometry(8, 6, 413, 83);
    ChkPath_1 = named(new QRadioButton(QStringLiteral("원본 파일 폴더"), GrpOutput), QStringLiteral("ChkPath_1"));
    ChkPath_1->setGeometry(17, 24, 118, 17);
    ChkPath_2 = named(new QRadioButton(GrpOutput), QStringLiteral("ChkPath_2"));
    ChkPath_2->setGeometry(17, 48, 336, 17);
    BtnSaveDir = named(new QToolButton(GrpOutput), QStringLiteral("BtnSaveDir"));
    BtnSaveDir->setText(QStringLiteral("\u2026"));
    BtnSaveDir->setAutoRaise(true);
    BtnSaveDir->setGeometry(376, 46, 20, 21);

    GrpOption = named(new QGroupBox(QStringLiteral("변환옵션"), options), QStringLiteral("GrpOption"));
    GrpOption->setGeometry(8, 95, 413, 138);
    named(new QLabel(QStringLiteral("저장형식 :"), GrpOption), QStringLiteral("Label1"))->setGeometry(16, 37, 56, 13);
    const int lefts[] = {80, 134, 188, 242, 301};
    const int widths[] = {52, 43, 43, 52, 52};
    for (int i = 0; i < kFormats.size(); ++i) {
        auto *radio = named(new QRadioButton(kFormats[i], GrpOption), QStringLiteral("Btn") + kFormats[i]);
        radio->setGeometry(lefts[i], 36, widths[i], 17);
        FormatButtons.append(radio);
    }
    named(new QLabel(QStringLiteral("크기조정 :"), GrpOption), QStringLiteral("LblResize"))->setGeometry(16, 69, 56, 13);
    ChkWidth = named(new QCheckBox(QStringLiteral("너비(px)"), GrpOption), QStringLiteral("ChkWidth"));
    ChkWidth->setGeometry(80, 68, 70, 17);
    EditWidth = named(new QSpinBox(GrpOption), QStringLiteral("EditWidth"));
    EditWidth->setGeometry(154, 66, 65, 24);
    EditWidth->setRange(0, kMaxWidth);
    EditWidth->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    EditWidth->setValue(540);
    EditWidth->setEnabled(false);
    named(new QLabel(QStringLiteral("품질조정 :"), GrpOption), QStringLiteral("LblQuality"))
        ->setGeometry(16, 104, 56, 13);
    EditQuality = named(new QSpinBox(GrpOption), QStringLiteral("EditQuality"));
    EditQuality->setGeometry(80, 101, 54, 24);
    EditQuality->setRange(40, 100);
    EditQuality->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    EditQuality->setValue(75);
    EditQuality->setToolTip(QStringLiteral("손실 압축시 적용"));
    FWidthText = EditWidth->text();
    FQualityText = EditQuality->text();

    GrpJob = named(new QGroupBox(QStringLiteral("작업옵션"), options), QStringLiteral("GrpJob"));
    GrpJob->setGeometry(8, 239, 413, 104);
    named(new QLabel(QStringLiteral("동시 작업 :"), GrpJob), QStringLiteral("LblWorkers"))->setGeometry(16, 27, 56, 13);
    EditWorkers = named(new QSpinBox(GrpJob), QStringLiteral("EditWorkers"));
    EditWorkers->setGeometry(80, 23, 64, 24);
    EditWorkers->setRange(0, 64);
    EditWorkers->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    // 0: one worker per core.
    EditWorkers->setSpecialValueText(QStringLiteral("자동"));
    EditWorkers->setValue(0);
    ChkKeepMeta = named(new QCheckBox(QStringLiteral("메타데이터 유지"), GrpJob), QStringLiteral("ChkKeepMeta"));
    ChkKeepMeta->setGeometry(16, 54, 200, 17);
    ChkKeepMeta->setChecked(true);
    ChkKeepTree = named(new QCheckBox(QStringLiteral("폴더 구조 유지"), GrpJob), QStringLiteral("ChkKeepTree"));
    ChkKeepTree->setGeometry(16, 78, 200, 17);

    auto *info = named(new QWidget(card), QStringLiteral("PnlInfo"));
    info->setFixedHeight(41);
    layout->addWidget(info);
    EditInfo = named(new QLineEdit(info), QStringLiteral("EditInfo"));
    EditInfo->setGeometry(15, 6, 170, 21);
    EditInfo->setFrame(false);
    EditInfo->setReadOnly(true);
    EditInfo->setFocusPolicy(Qt::NoFocus);
    EditInfo->installEventFilter(this);
    return card;
}

void TFrmZarvelo::FitCaptions()
{
    // The settings card is laid out for a narrow system font; a wider font
    // or a longer translation widens a caption instead of cutting it.
    const auto fit = [](QWidget *widget) {
        const QSize needed = widget->sizeHint();
        QRect bounds = widget->geometry();
        if (needed.width() > bounds.width())
            bounds.setWidth(needed.width());
        if (needed.height() > bounds.height()) {
            // Grown about its middle, so that it stays level with its row.
            bounds.moveTop(bounds.top() - (needed.height() - bounds.height()) / 2);
            bounds.setHeight(needed.height());
        }
        widget->setGeometry(bounds);
    };
    const QList<QWidget *> captions = GrpOption->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *widget : captions) {
        if (qobject_cast<QLabel *>(widget) || qobject_cast<QCheckBox *>(widget) ||
            qobject_cast<QRadioButton *>(widget))
            fit(widget);
    }
    const QList<QWidget *> jobCaptions = GrpJob->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *widget : jobCaptions) {
        if (qobject_cast<QLabel *>(widget) || qobject_cast<QCheckBox *>(widget))
            fit(widget);
    }
    fit(ChkPath_1);
    // The width box follows its check box when the caption pushes it aside.
    const int widthLeft = std::max(154, ChkWidth->geometry().right() + 5);
    EditWidth->move(widthLeft, EditWidth->y());
    const QWidget *workersLabel = GrpJob->findChild<QLabel *>(QStringLiteral("LblWorkers"));
    EditWorkers->move(std::max(80, workersLabel->geometry().right() + 5), EditWorkers->y());
    EditWorkers->setSpecialValueText(Translate(QStringLiteral("자동")));
    BtnOpenFolder->setToolTip(Translate(QStringLiteral("출력 폴더 열기")));
}

void TFrmZarvelo::buildListMenu()
{
    PopList = named(new QMenu(this), QStringLiteral("PopList"));
    BtnDetails = PopList->addAction(QStringLiteral("자세히"));
    BtnDetails->setObjectName(QStringLiteral("BtnDetails"));
    BtnRetry = PopList->addAction(QStringLiteral("실패한 파일 다시 변환"));
    BtnRetry->setObjectName(QStringLiteral("BtnRetry"));
    PopList->addSeparator();
    BtnDelete = PopList->addAction(QStringLiteral("선택된 목록 삭제"));
    BtnDelete->setObjectName(QStringLiteral("BtnDelete"));
    BtnDeleteAll = PopList->addAction(QStringLiteral("모든 목록 삭제"));
    BtnDeleteAll->setObjectName(QStringLiteral("BtnDeleteAll"));
}

void TFrmZarvelo::SetStartCaption(const QString &text)
{
    BtnStart->setText(text);
    // A long translation widens the button leftwards instead of being cut.
    const int needed = BtnStart->fontMetrics().horizontalAdvance(text) + 20;
    const int width = std::max(120, needed);
    PnlStart->setFixedWidth(width);
    BtnStart->setGeometry(0, 8, width, 35);
}

void TFrmZarvelo::connectHandlers()
{
    connect(BtnStart, &QAbstractButton::clicked, this, &TFrmZarvelo::BtnStartClick);
    connect(BtnStart, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopSave->popup(BtnStart->mapToGlobal(pos)); });
    for (TStyledButton *button : {BtnHome, BtnConfig, BtnDonate})
        connect(button, &QAbstractButton::clicked, this, [this, button] { BtnHomeClick(button); });

    connect(ListFile, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopList->popup(ListFile->viewport()->mapToGlobal(pos)); });
    connect(ListFile, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { ShowDetails(index.row()); });
    connect(BtnDetails, &QAction::triggered, this, [this] {
        const QModelIndex current = ListFile->currentIndex();
        if (current.isValid())
            ShowDetails(current.row());
    });
    connect(BtnRetry, &QAction::triggered, this, &TFrmZarvelo::BtnRetryClick);
    connect(BtnOpenFolder, &QAbstractButton::clicked, this, [this] { OpenLocalFolder(FResultFolder); });
    connect(BtnDelete, &QAction::triggered, this, &TFrmZarvelo::BtnDeleteClick);
    connect(BtnDeleteAll, &QAction::triggered, this, &TFrmZarvelo::BtnDeleteAllClick);

    // Settings: the handlers also run when LoadSettings sets the controls.
    for (QRadioButton *radio : std::as_const(FormatButtons)) {
        connect(radio, &QAbstractButton::toggled, this, [this, radio](bool on) {
            if (on)
                ChkJPGClick(radio);
        });
    }
    const QList<QAction *> items = PopSave->actions();
    for (QAction *item : items)
        connect(item, &QAction::triggered, this, [this, item] { ChkJPGClick(item); });
    for (QRadioButton *radio : {ChkPath_1, ChkPath_2}) {
        connect(radio, &QAbstractButton::toggled, this, [this, radio](bool on) {
            if (on)
                ChkPath_1Click(radio);
        });
    }
    connect(ChkWidth, &QAbstractButton::toggled, this, &TFrmZarvelo::ChkWidthClick);
    // A spin box reports its own text changes only for acceptable values;
    // its editor reports typed text as well. Both lead to one handler call
    // per change of the text.
    for (QSpinBox *box : {EditWidth, EditQuality}) {
        const auto changed = [this, box] {
            QString &last = box == EditWidth ? FWidthText : FQualityText;
            if (box->text() == last)
                return;
            last = box->text();
            if (box == EditWidth)
                EditWidthChange();
            else
                EditQualityChange();
        };
        connect(box, &QSpinBox::textChanged, this, changed);
        connect(box->findChild<QLineEdit *>(), &QLineEdit::textChanged, this, changed);
    }
    connect(BtnSaveDir, &QAbstractButton::clicked, this, &TFrmZarvelo::BtnSaveDirClick);
    connect(EditWorkers, &QSpinBox::valueChanged, this,
            [](int value) { SaveIntSetting(QStringLiteral("workers"), value); });
    connect(ChkKeepMeta, &QAbstractButton::toggled, this,
            [](bool on) { SaveBoolSetting(QStringLiteral("keepmeta"), on); });
    connect(ChkKeepTree, &QAbstractButton::toggled, this,
            [](bool on) { SaveBoolSetting(QStringLiteral("keeptree"), on); });
}

bool TFrmZarvelo::StartAutoMode(const QStringList &arguments)
{
    // "/auto FORMAT PATH...": more than two arguments after the program's
    // path, the first exactly "/auto". Anything else is a normal start.
    if (arguments.size() < 4 || arguments.at(1) != QLatin1String("/auto"))
        return false;
    // The format is compared without case and never stored.
    SaveFormat = arguments.at(2).toUpper();
    SetStartCaption(FormatCaption(QStringLiteral("%s 로 변환하기")));
    AutoMode = true;
    if (!kFormats.contains(SaveFormat)) {
        // Nothing is added, so nothing can be written; the reason goes to
        // standard error and, once the window runs, to a message box.
        const QString message =
            Translate(QStringLiteral("%s 는 지원하지 않는 형식입니다.")).replace(QStringLiteral("%s"), arguments.at(2));
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        std::fflush(stderr);
        QMetaObject::invokeMethod(
            this,
            [this, message] {
                auto *box = new QMessageBox(QMessageBox::Critical, windowTitle(), message, QMessageBox::Ok, this);
                box->setObjectName(QStringLiteral("MsgFormat"));
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->open();
            },
            Qt::QueuedConnection);
        return true;
    }
    // The tools run in the vendor folder, so a path relative to the folder
    // the program was started from is made absolute first.
    for (qsizetype i = 3; i < arguments.size(); ++i) {
        const QString &path = arguments.at(i);
        AddPath(*FModel, QDir::isRelativePath(path) && !path.isEmpty()
                             ? QDir::currentPath() + QLatin1Char('/') + path
                             : path);
    }
    // The same dispatch as a user's click: the job starts before the window shows.
    BtnStart->click();
    return true;
}

void TFrmZarvelo::AddFile(const QStringList &paths)
{
    if (IsBusy())
        return;
    for (const QString &path : paths)
        AddPath(*FModel, path);
}

ConversionOptions TFrmZarvelo::CurrentOptions() const
{
    ConversionOptions options;
    options.SaveFormat = SaveFormat;
    options.SavePath = SavePath;
    options.UseWidth = ChkWidth->isChecked();
    options.Width = spinValue(EditWidth);
    options.Quality = spinValue(EditQuality);
    options.KeepMetadata = ChkKeepMeta->isChecked();
    options.TimeoutSeconds = TConfig(kSettingsName).ReadInteger(QStringLiteral("tooltimeout"), 0);
    return options;
}

QString TFrmZarvelo::FormatCaption(const QString &pattern) const
{
    return Translate(pattern).replace(QStringLiteral("%s"), SaveFormat);
}

void TFrmZarvelo::BtnStartClick()
{
    if (IsBusy()) {
        CancelJob();
        return;
    }
    // After an /auto run the button closes the window.
    if (BtnStart->text() == FormatCaption(QStringLiteral("%s 로 변환완료"))) {
        close();
        return;
    }
    const int count = FModel->rowCount();
    if (count == 0)
        return;

    // After a cancelled job a start goes on with the rows not converted yet;
    // otherwise every row is converted again.
    QList<int> rows;
    if (FResume) {
        for (int i = 0; i < count; ++i) {
            if (FModel->state(i) == TRowState::Ready)
                rows.append(i);
        }
    }
    const bool again = rows.isEmpty();
    if (again) {
        for (int i = 0; i < count; ++i)
            rows.append(i);
    }
    StartJob(rows, again);
}

void TFrmZarvelo::BtnRetryClick()
{
    if (IsBusy())
        return;
    QList<int> rows;
    for (int i = 0; i < FModel->rowCount(); ++i) {
        if (FModel->state(i) == TRowState::Fail)
            rows.append(i);
    }
    if (!rows.isEmpty())
        StartJob(rows, false);
}

bool TFrmZarvelo::StartJob(const QList<int> &rows, bool resetAll)
{
    SavePath.clear();
    if (ChkPath_2->isChecked() && !AutoMode) {
        QString folder = FOutputFolder;
        // An empty folder setting would mean the file-system root: refused
        // like a folder that cannot be made.
        const bool named = !folder.trimmed().isEmpty();
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        if (!named || (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))) {
            QMessageBox box(QMessageBox::Critical, windowTitle(),
                            Translate(QStringLiteral("저장될 폴더를 다시 입력해주세요.")), QMessageBox::Ok, this);
            box.setWindowFlag(Qt::WindowStaysOnTopHint);
            box.exec();
            return false;
        }
        SavePath = folder;
    }

    // The job works on a copy of the rows; the list is kept still anyway
    // (no drops, no deletes) so that row numbers stay valid for its signals.
    const bool keepTree = ChkKeepTree->isChecked() && !SavePath.isEmpty();
    QList<TJobItem> items;
    items.reserve(rows.size());
    for (int row : rows) {
        const TFileInfo &info = FModel->fileInfo(row);
        items.append(TJobItem{info.FileName, info.Format, keepTree ? RelativeFolderOf(info) : QString()});
    }
    if (resetAll) {
        for (int i = 0; i < FModel->rowCount(); ++i)
            FModel->setState(i, TRowState::Ready);
    } else {
        for (int row : rows)
            FModel->setState(row, TRowState::Ready);
    }

    FJobRows = rows;
    FSucceeded = 0;
    FFailed = 0;
    FResultFolder = SavePath;
    FResume = false;
    FJob = new TConversionJob(items, CurrentOptions(), spinValue(EditWorkers), this);
    connect(FJob, &TConversionJob::RowStarted, this, &TFrmZarvelo::JobRowStarted);
    connect(FJob, &TConversionJob::RowFinished, this, &TFrmZarvelo::JobRowFinished);
    connect(FJob, &TConversionJob::Progress, this, &TFrmZarvelo::JobProgress);
    connect(FJob, &TConversionJob::Finished, this, &TFrmZarvelo::JobFinished);

    // Busy: the button cancels, the settings card cannot be reached.
    LblSummary->hide();
    BtnOpenFolder->hide();
    ProgressBar->setRange(0, int(items.size()));
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(true);
    ProgressBar->setFormat(QStringLiteral("0 / %1").arg(items.size()));
    ProgressBar->show();
    SetStartCaption(Translate(QStringLiteral("취소")));
    BtnStart->setEnabled(true);
    BtnHome->setEnabled(false);
    BtnConfig->setEnabled(false);
    // Left of the caption, which the button still shows.
    Indicator->move(6, 15);
    Indicator->show();
    Indicator->start();
    FJobTimer.start();
    FJob->Start();
    return true;
}

void TFrmZarvelo::CancelJob()
{
    if (!FJob)
        return;
    FJob->Cancel();
    // The job ends as soon as its tools have stopped.
    BtnStart->setEnabled(false);
}

void TFrmZarvelo::JobRowStarted(int index)
{
    const int row = FJobRows.value(index, -1);
    FModel->setState(row, TRowState::Converting);
    if (row >= 0)
        ListFile->scrollTo(FModel->index(row, 0));
}

void TFrmZarvelo::JobRowFinished(int index, const ConversionResult &result)
{
    const int row = FJobRows.value(index, -1);
    FModel->setState(row, result.Success ? TRowState::Success : TRowState::Fail, result.Reason, result.Printed);
    if (result.Success) {
        ++FSucceeded;
        // Without an output folder the outputs lie beside their sources.
        if (FResultFolder.isEmpty())
            FResultFolder = QFileInfo(result.Outputs.isEmpty() ? FModel->fileInfo(row).FileName
                                                               : result.Outputs.first())
                                .absolutePath();
    } else {
        ++FFailed;
        // A run started by another program shows its failures there too.
        if (AutoMode) {
            const QString line = FModel->fileInfo(row).FileName + QStringLiteral(": ") +
                                 (result.Reason.isEmpty() ? Translate(QStringLiteral("실패")) : result.Reason);
            std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
            std::fflush(stderr);
        }
    }
}

void TFrmZarvelo::JobProgress(int finished, int total)
{
    QString text = QStringLiteral("%1 / %2").arg(finished).arg(total);
    // Time left from the pace of the files finished so far.
    if (finished > 0 && finished < total) {
        const qint64 left = FJobTimer.elapsed() * (total - finished) / finished;
        text += QStringLiteral(" \u00B7 ") +
                Translate(QStringLiteral("%s 남음")).replace(QStringLiteral("%s"), durationText(left));
    }
    ProgressBar->setFormat(text);
    ProgressBar->setValue(finished);
}

void TFrmZarvelo::JobFinished(bool cancelled)
{
    // Rows the job did not finish can be converted another time.
    for (int row : std::as_const(FJobRows)) {
        if (FModel->state(row) == TRowState::Converting)
            FModel->setState(row, TRowState::Ready);
    }
    FJob->deleteLater();
    FJob = nullptr;
    FResume = cancelled;

    Indicator->stop();
    Indicator->hide();
    Indicator->move(49, 13);
    ProgressBar->hide();
    ProgressBar->setValue(0);
    if (AutoMode && !cancelled) {
        // The button now closes the window; the format menu is gone for good.
        SetStartCaption(FormatCaption(QStringLiteral("%s 로 변환완료")));
        BtnStart->setContextMenuPolicy(Qt::NoContextMenu);
        BtnStart->setEnabled(true);
        BtnHome->setEnabled(true);
    } else {
        SetStartCaption(FormatCaption(QStringLiteral("%s 로 변환하기")));
        BtnStart->setEnabled(true);
        BtnHome->setEnabled(true);
        BtnConfig->setEnabled(!AutoMode);
    }

    LblSummary->setText(QStringLiteral("%1 %2 \u00B7 %3 %4 \u00B7 %5")
                            .arg(Translate(QStringLiteral("성공")))
                            .arg(FSucceeded)
                            .arg(Translate(QStringLiteral("실패")))
                            .arg(FFailed)
                            .arg(durationText(FJobTimer.elapsed())));
    LblSummary->show();
    BtnOpenFolder->setVisible(!FResultFolder.isEmpty() && QFileInfo(FResultFolder).isDir());

    if (FQuitAfterCancel) {
        FQuitAfterCancel = false;
        close();
    }
}

QDialog *TFrmZarvelo::ShowDetails(int row)
{
    if (row < 0 || row >= FModel->rowCount())
        return nullptr;
    const TFileInfo &info = FModel->fileInfo(row);
    QString text = info.FileName + QLatin1Char('\n') + FModel->status(row);
    if (!FModel->reason(row).isEmpty())
        text += QStringLiteral(": ") + FModel->reason(row);
    if (!FModel->printed(row).isEmpty())
        text += QStringLiteral("\n\n") + FModel->printed(row);

    auto *dialog = named(new QDialog(this), QStringLiteral("DlgDetails"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(Translate(QStringLiteral("자세히")) + QStringLiteral(" - ") + info.Title);
    dialog->resize(520, 320);
    auto *layout = new QVBoxLayout(dialog);
    auto *edit = named(new QPlainTextEdit(dialog), QStringLiteral("TxtDetails"));
    edit->setReadOnly(true);
    edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setPlainText(text);
    layout->addWidget(edit);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->open();
    return dialog;
}

void TFrmZarvelo::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && IsBusy()) {
        CancelJob();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TFrmZarvelo::BtnDeleteClick()
{
    if (IsBusy())
        return;
    QList<int> rows;
    const QModelIndexList selected = ListFile->selectionModel()->selectedRows();
    for (const QModelIndex &index : selected)
        rows.append(index.row());
    FModel->removeRowsAt(rows);
}

void TFrmZarvelo::BtnDeleteAllClick()
{
    if (IsBusy())
        return;
    FModel->clear();
}

void TFrmZarvelo::BtnHomeClick(QObject *sender)
{
    const QString name = sender ? sender->objectName() : QString();
    const auto is = [&name](const char *candidate) {
        return name.compare(QLatin1String(candidate), Qt::CaseInsensitive) == 0;
    };
    if (is("BtnHome")) {
        BtnHome->setChecked(true);
        PnlMain->setCurrentIndex(0);
    } else if (is("BtnConfig")) {
        BtnConfig->setChecked(true);
        PnlMain->setCurrentIndex(1);
    } else if (is("BtnDonate")) {
        OpenDocument(WebHost() + QStringLiteral("/donate"));
    } else if (is("ImgLogo")) {
        OpenDocument(WebHost() + QStringLiteral("/zarvelo?v=") + GetVersionString(QStringLiteral("%d.%d.%d.%d")));
    }
}

void TFrmZarvelo::EditInfoClick()
{
    if (QWidget *focused = focusWidget())
        focused->clearFocus();
}

void TFrmZarvelo::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!FThemed) {
        FThemed = true;
        ApplyTheme(this, true);
        // The theme may change the button's font.
        SetStartCaption(BtnStart->text());
    }
}

void TFrmZarvelo::closeEvent(QCloseEvent *event)
{
    // While a job runs the user is asked; the window closes once the
    // cancelled job has ended (its tools stopped, partial outputs removed).
    if (IsBusy()) {
        event->ignore();
        if (FQuitAfterCancel)
            return;
        QMessageBox box(QMessageBox::Question, windowTitle(),
                        Translate(QStringLiteral("변환을 취소하고 종료할까요?")), QMessageBox::Yes | QMessageBox::No,
                        this);
        box.setObjectName(QStringLiteral("MsgQuit"));
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return;
        if (IsBusy()) {
            FQuitAfterCancel = true;
            CancelJob();
        } else {
            // The job ended while the question was open.
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        }
        return;
    }
    FModel->clear();
    DragFile.reset();
    StopUpdateChecks(this);
    event->accept();
}

bool TFrmZarvelo::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ListFile && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        BtnDeleteClick();
        return true;
    }
    if (watched == ListFile && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape && IsBusy()) {
        CancelJob();
        return true;
    }
    if (watched == EditInfo && event->type() == QEvent::MouseButtonPress) {
        EditInfoClick();
        return true;
    }
    if (watched == ImgLogo && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && ImgLogo->rect().contains(mouse->position().toPoint()))
            BtnHomeClick(ImgLogo);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// Settings --------------------------------------------------------------

void TFrmZarvelo::SaveIntSetting(const QString &key, int value)
{
    TConfig(kSettingsName).WriteInteger(key, value);
}

void TFrmZarvelo::SaveBoolSetting(const QString &key, bool value)
{
    TConfig(kSettingsName).WriteBoolean(key, value);
}

void TFrmZarvelo::SaveStringSetting(const QString &key, const QString &value)
{
    TConfig(kSettingsName).WriteString(key, value);
}

void TFrmZarvelo::LoadSettings()
{
    // The controls are set the way user input sets them, so their handlers
    // run and write some values straight back (a first start stores format
    // and save).
    {
        const TConfig config(kSettingsName);
        SaveFormat = config.ReadString(QStringLiteral("format"), QStringLiteral("JPG"));
        SetOutputFolder(config.ReadString(QStringLiteral("savepath"),
                                          GetSpecialFolder(CSIDL_DESKTOP) + QStringLiteral("/Zarvelo")));
        ChkWidth->setChecked(config.ReadBoolean(QStringLiteral("resize_w"), false));
        EditWidth->setEnabled(ChkWidth->isChecked());
        EditWidth->setValue(config.ReadInteger(QStringLiteral("width"), 540));
        EditQuality->setValue(config.ReadInteger(QStringLiteral("quality"), 75));
        EditWorkers->setValue(config.ReadInteger(QStringLiteral("workers"), 0));
        ChkKeepMeta->setChecked(config.ReadBoolean(QStringLiteral("keepmeta"), true));
        ChkKeepTree->setChecked(config.ReadBoolean(QStringLiteral("keeptree"), false));
        if (config.ReadInteger(QStringLiteral("save"), -1) == 2)
            ChkPath_2->setChecked(true);
        else
            ChkPath_1->setChecked(true);
    }
    ShowSaveFormat(false);
}

void TFrmZarvelo::ShowSaveFormat(bool persist)
{
    if (!IsBusy())
        SetStartCaption(FormatCaption(QStringLiteral("%s 로 변환하기")));
    const qsizetype position = kFormats.indexOf(SaveFormat);
    if (position >= 0)
        FormatButtons[position]->setChecked(true);
    if (persist)
        SaveStringSetting(QStringLiteral("format"), SaveFormat);
}

void TFrmZarvelo::ChkJPGClick(QObject *sender)
{
    if (auto *item = qobject_cast<QAction *>(sender))
        SaveFormat = item->text();
    else if (auto *radio = qobject_cast<QRadioButton *>(sender))
        SaveFormat = radio->text();
    ShowSaveFormat(true);
}

void TFrmZarvelo::ChkPath_1Click(QObject *sender)
{
    // "ChkPath_1" stores 1, "ChkPath_2" stores 2.
    SaveIntSetting(QStringLiteral("save"), sender->objectName().mid(8).toInt());
}

void TFrmZarvelo::ChkWidthClick()
{
    SaveBoolSetting(QStringLiteral("resize_w"), ChkWidth->isChecked());
    EditWidth->setEnabled(ChkWidth->isChecked());
}

void TFrmZarvelo::EditWidthChange()
{
    SaveIntSetting(QStringLiteral("width"), spinValue(EditWidth));
}

void TFrmZarvelo::EditQualityChange()
{
    SaveIntSetting(QStringLiteral("quality"), spinValue(EditQuality));
}

void TFrmZarvelo::BtnSaveDirClick()
{
    QString path = FOutputFolder;
    if (SelectFolder(path, this)) {
        SaveStringSetting(QStringLiteral("savepath"), path);
        SetOutputFolder(path);
    }
}

void TFrmZarvelo::SetOutputFolder(const QString &folder)
{
    FOutputFolder = folder;
    ChkPath_2->setText(literalCaption(folder));
    ChkPath_2->setToolTip(folder);
}
