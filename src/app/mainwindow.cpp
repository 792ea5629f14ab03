#include "mainwindow.h"

#include "addfiles.h"
#include "common.h"
#include "dragfile.h"
#include "emptyhint.h"
#include "filelist.h"
#include "indicator.h"
#include "session.h"
#include "settingscard.h"
#include "settingsnotice.h"
#include "theme.h"
#include "tools.h"
#include "translate.h"
#include "translatewidgets.h"
#include "update.h"
#include "updatedialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QSvgRenderer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

namespace
{

// The window's size at start; a bigger window gives the extra width to the
// list's name column.
constexpr QSize kStartSize(429, 483);
constexpr int kNameColumnWidth = 260;
constexpr int kStartButtonWidth = 120;

// Where the activity indicator sits on the start button: centred while it
// is idle, left of the caption while a job runs.
constexpr QPoint kIndicatorIdle(49, 13);
constexpr QPoint kIndicatorBusy(6, 15);

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

void printError(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

bool OpenLocalFolder(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(folder).absoluteFilePath()));
}

TFrmZarvelo::TFrmZarvelo(const QStringList &arguments, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FrmZarvelo"));
    setWindowTitle(QStringLiteral("Zarvelo"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/logo.svg")));
    setFixedSize(kStartSize);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    FModel = new TFileListModel(this);
    FModel->setHeaderTexts({QStringLiteral("파일이름"), QStringLiteral("타입"), QStringLiteral("상태")});
    FSession = new TConversionSession(*FModel, this);

    // The theme puts its accent bar at index 0 of this layout.
    auto *top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    buildHeader();
    top->addWidget(PnlHead);
    PnlMain = named(new QStackedWidget(this), QStringLiteral("PnlMain"));
    PnlMain->setContentsMargins(3, 3, 3, 3);
    PnlMain->addWidget(buildHomeCard());
    Card = new TSettingsCard;
    PnlMain->addWidget(Card);
    top->addWidget(PnlMain, 1);
    ProgressBar = named(new QProgressBar(this), QStringLiteral("ProgressBar"));
    ProgressBar->setFixedHeight(17);
    ProgressBar->setTextVisible(false);
    ProgressBar->setRange(0, 0);
    ProgressBar->hide();
    top->addWidget(ProgressBar);

    buildMenus();
    // Adding without dragging, the empty-list hint, the notice of unsaved settings.
    new TAddFiles(
        this, PopList, [this] { return FMode == TWindowMode::Normal && !IsBusy(); },
        [this](const QStringList &paths) { AddFile(paths); });
    new TEmptyHint(ListFile);
    new TSettingsNotice(this);

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connectHandlers();
    connectSession();
    startUp(arguments);
}

TFrmZarvelo::~TFrmZarvelo()
{
    // The job's workers end before the rows and options they report on go.
    delete FSession;
    FSession = nullptr;
    StopUpdateChecks(this);
    DragFile.reset();
}

void TFrmZarvelo::startUp(const QStringList &arguments)
{
    PnlMain->setCurrentIndex(0);
    Indicator->hide();
    TranslateComponent(this);
    Card->TranslateExtras();
    FitColumns();
    BtnOpenFolder->setToolTip(Translate(QStringLiteral("출력 폴더 열기")));
    QGuiApplication::setApplicationDisplayName(Translate(windowTitle()));
    Card->SetVersionText(Translate(QStringLiteral("버전")) + QStringLiteral(": ") +
                         GetVersionString(QStringLiteral("%d.%d.%d")));
    // Loading stores some values straight back (a first start stores "save" and "format").
    const TStoredSettings settings = LoadSettings();
    Card->Show(settings);
    FSaveFormat = settings.Options.SaveFormat;
    ShowStartCaption();
    FMode = TWindowMode::Normal;
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

void TFrmZarvelo::buildHeader()
{
    PnlHead = named(new QWidget(this), QStringLiteral("PnlHead"));
    PnlHead->setFixedHeight(50);
    auto *head = new QHBoxLayout(PnlHead);
    head->setContentsMargins(10, 0, 0, 0);
    head->setSpacing(10);

    BtnHead = named(new QWidget(PnlHead), QStringLiteral("BtnHead"));
    auto *buttons = new QHBoxLayout(BtnHead);
    buttons->setContentsMargins(10, 0, 0, 0);
    buttons->setSpacing(0);
    HeadGroup = new QButtonGroup(this);
    HeadGroup->setExclusive(true);
    const auto addButton = [&](const char *name, const char *caption) {
        auto *button = named(new TStyledButton(BtnHead), QLatin1String(name));
        button->setStyleFamily(QStringLiteral("Talmerick"), QStringLiteral("Header"), 4, true);
        button->setCheckable(true);
        button->setText(QString::fromUtf8(caption));
        button->setFixedSize(70, 30);
        button->setFocusPolicy(Qt::TabFocus);
        HeadGroup->addButton(button);
        buttons->addWidget(button);
        return button;
    };
    BtnHome = addButton("BtnHome", "처음화면");
    BtnConfig = addButton("BtnConfig", "환경설정");
    BtnDonate = addButton("BtnDonate", "후원하기");
    buttons->addStretch(1);
    BtnHome->setChecked(true);
    BtnDonate->hide();
    BtnHead->setFixedHeight(30);
    head->addWidget(BtnHead, 1, Qt::AlignVCenter);

    // The logo keeps to the right edge, full header height.
    PnlLogo = named(new QWidget(PnlHead), QStringLiteral("PnlLogo"));
    PnlLogo->setFixedWidth(120);
    auto *logo = new QHBoxLayout(PnlLogo);
    logo->setContentsMargins(3, 0, 5, 0);
    ImgLogo = named(new TSvgImage(QStringLiteral(":/logo.svg"), PnlLogo), QStringLiteral("ImgLogo"));
    ImgLogo->setCursor(Qt::PointingHandCursor);
    ImgLogo->installEventFilter(this);
    logo->addWidget(ImgLogo);
    head->addWidget(PnlLogo);
}

QTreeView *TFrmZarvelo::buildFileList(QWidget *parent)
{
    ListFile = named(new QTreeView(parent), QStringLiteral("ListFile"));
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
    ListFile->header()->resizeSection(TFileListModel::ColumnName, kNameColumnWidth);
    ListFile->header()->resizeSection(TFileListModel::ColumnType, 60);
    ListFile->header()->resizeSection(TFileListModel::ColumnStatus, 60);
    ListFile->setContextMenuPolicy(Qt::CustomContextMenu);
    ListFile->installEventFilter(this);
    return ListFile;
}

QWidget *TFrmZarvelo::buildHomeCard()
{
    auto *card = named(new QWidget, QStringLiteral("PnlHome"));
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(0);

    layout->addWidget(buildFileList(card), 1);

    auto *menu = named(new QWidget(card), QStringLiteral("PnlMenu"));
    menu->setFixedHeight(48);
    auto *menuLayout = new QHBoxLayout(menu);
    menuLayout->setContentsMargins(1, 1, 1, 1);
    menuLayout->setSpacing(4);
    // The last job's summary and the way to its output folder, left of the button.
    LblSummary = named(new QLabel(menu), QStringLiteral("LblSummary"));
    LblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LblSummary->setWordWrap(true);
    LblSummary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LblSummary->hide();
    menuLayout->addWidget(LblSummary);
    BtnOpenFolder = named(new QToolButton(menu), QStringLiteral("BtnOpenFolder"));
    BtnOpenFolder->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    BtnOpenFolder->setAutoRaise(true);
    BtnOpenFolder->setToolTip(QStringLiteral("출력 폴더 열기"));
    BtnOpenFolder->hide();
    menuLayout->addWidget(BtnOpenFolder);
    menuLayout->addStretch(1);
    // The output format, also reachable by a right-click on the start button.
    CmbFormat = named(new QComboBox(menu), QStringLiteral("CmbFormat"));
    for (const TOutputFormat &format : OutputFormats()) {
        CmbFormat->addItem(format.Caption);
        // A format the image tool here cannot write is shown, not offered.
        if (!FormatUnavailableReason(format.Caption).isEmpty())
            if (auto *model = qobject_cast<QStandardItemModel *>(CmbFormat->model()))
                model->item(CmbFormat->count() - 1)->setEnabled(false);
    }
    CmbFormat->setFocusPolicy(Qt::TabFocus);
    menuLayout->addWidget(CmbFormat);

    menuLayout->addWidget(buildStartPanel(menu));
    layout->addWidget(menu);
    return card;
}

QWidget *TFrmZarvelo::buildStartPanel(QWidget *parent)
{
    PnlStart = named(new QWidget(parent), QStringLiteral("PnlStart"));
    PnlStart->setFixedWidth(kStartButtonWidth);
    auto *start = new QVBoxLayout(PnlStart);
    start->setContentsMargins(0, 8, 0, 3);
    BtnStart = named(new TStyledButton(PnlStart), QStringLiteral("BtnStart"));
    BtnStart->setStyleFamily(QStringLiteral("Talmerick"), QStringLiteral("Outline"), 6);
    BtnStart->setFixedHeight(35);
    BtnStart->setContextMenuPolicy(Qt::CustomContextMenu);
    start->addWidget(BtnStart);
    // Drawn over the button, not laid out beside it.
    Indicator = named(new TIndicator(PnlStart), QStringLiteral("Indicator"));
    Indicator->move(kIndicatorIdle);
    Indicator->raise();
    return PnlStart;
}

void TFrmZarvelo::buildMenus()
{
    PopSave = named(new QMenu(this), QStringLiteral("PopSave"));
    for (const TOutputFormat &format : OutputFormats()) {
        QAction *item = PopSave->addAction(format.Caption);
        item->setObjectName(QStringLiteral("Chk") + format.Caption);
        item->setEnabled(FormatUnavailableReason(format.Caption).isEmpty());
        connect(item, &QAction::triggered, this,
                [this, caption = format.Caption] { ChooseFormat(caption, true); });
    }
    PopList = named(new QMenu(this), QStringLiteral("PopList"));
    const auto addItem = [this](const char *name, const char *caption) {
        QAction *item = PopList->addAction(QString::fromUtf8(caption));
        item->setObjectName(QLatin1String(name));
        return item;
    };
    BtnDetails = addItem("BtnDetails", "자세히");
    BtnRetry = addItem("BtnRetry", "실패한 파일 다시 변환");
    PopList->addSeparator();
    BtnDelete = addItem("BtnDelete", "선택된 목록 삭제");
    BtnDeleteAll = addItem("BtnDeleteAll", "모든 목록 삭제");
}

void TFrmZarvelo::connectHandlers()
{
    connect(BtnStart, &QAbstractButton::clicked, this, &TFrmZarvelo::BtnStartClick);
    connect(BtnStart, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopSave->popup(BtnStart->mapToGlobal(pos)); });
    connect(BtnHome, &QAbstractButton::clicked, this, [this] { ShowCard(0); });
    connect(BtnConfig, &QAbstractButton::clicked, this, [this] { ShowCard(1); });
    connect(BtnDonate, &QAbstractButton::clicked, this,
            [] { OpenDocument(WebHost() + QStringLiteral("/donate")); });
    connect(Card, &TSettingsCard::FormatChosen, this,
            [this](const QString &format) { ChooseFormat(format, false); });

    connect(CmbFormat, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < OutputFormats().size() && !IsBusy())
            ChooseFormat(OutputFormats()[index].Caption, true);
    });
    connect(ListFile, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopList->popup(ListFile->viewport()->mapToGlobal(pos)); });
    connect(PopList, &QMenu::aboutToShow, this, &TFrmZarvelo::UpdateListMenu);
    connect(ListFile, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { ShowDetails(index.row()); });
    connect(BtnDetails, &QAction::triggered, this, [this] {
        const QModelIndex current = ListFile->currentIndex();
        if (current.isValid())
            ShowDetails(current.row());
    });
    connect(BtnRetry, &QAction::triggered, this, &TFrmZarvelo::BtnRetryClick);
    connect(BtnOpenFolder, &QAbstractButton::clicked, this, &TFrmZarvelo::OpenResultFolder);
    connect(BtnDelete, &QAction::triggered, this, &TFrmZarvelo::BtnDeleteClick);
    connect(BtnDeleteAll, &QAction::triggered, this, &TFrmZarvelo::BtnDeleteAllClick);
}

void TFrmZarvelo::connectSession()
{
    connect(FSession, &TConversionSession::Started, this, &TFrmZarvelo::ShowBusy);
    connect(FSession, &TConversionSession::RowStarted, this, [this](int row) {
        if (row >= 0)
            ListFile->scrollTo(FModel->index(row, 0));
    });
    connect(FSession, &TConversionSession::RowFinished, this, &TFrmZarvelo::ShowRowFinished);
    connect(FSession, &TConversionSession::Progress, this, &TFrmZarvelo::ShowProgress);
    connect(FSession, &TConversionSession::Finished, this, &TFrmZarvelo::ShowFinished);
}

bool TFrmZarvelo::StartAutoMode(const QStringList &arguments)
{
    // "/auto FORMAT PATH...": more than two arguments after the program's
    // path, the first exactly "/auto". Anything else is a normal start.
    if (arguments.size() < 4 || arguments.at(1) != QLatin1String("/auto"))
        return false;
    // The format is compared without case and never stored.
    FSaveFormat = arguments.at(2).toUpper();
    FMode = TWindowMode::Auto;
    ShowStartCaption();
    if (!FindOutputFormat(FSaveFormat) || !FormatUnavailableReason(FSaveFormat).isEmpty()) {
        ShowAutoFormatError(arguments.at(2));
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

void TFrmZarvelo::ShowAutoFormatError(const QString &given)
{
    // Nothing is added, so nothing can be written; the reason goes to
    // standard error and, once the window runs, to a message box.
    const QString message =
        Translate(QStringLiteral("%s 는 지원하지 않는 형식입니다.")).replace(QStringLiteral("%s"), given);
    printError(message);
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            auto *box = new QMessageBox(QMessageBox::Critical, windowTitle(), message, QMessageBox::Ok, this);
            box->setObjectName(QStringLiteral("MsgFormat"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        },
        Qt::QueuedConnection);
}

void TFrmZarvelo::AddFile(const QStringList &paths)
{
    if (IsBusy())
        return;
    // A walk never takes the outputs of this window's runs.
    const TIntakeGuard guard =
        FSession ? FSession->IntakeGuard(WantedOutputFolder().value_or(QString())) : TIntakeGuard();
    for (const QString &path : paths)
        AddPath(*FModel, path, guard);
}

bool TFrmZarvelo::IsBusy() const
{
    return FSession && FSession->IsRunning();
}

QString TFrmZarvelo::OutputFolder() const
{
    return Card->OutputFolder();
}

QString TFrmZarvelo::ResultFolder() const
{
    return FSession->ResultFolder();
}

QRadioButton *TFrmZarvelo::chkPath2() const
{
    return Card->chkPath2();
}

std::optional<QString> TFrmZarvelo::WantedOutputFolder() const
{
    // An /auto run writes next to the sources.
    if (FMode == TWindowMode::Normal && Card->IntoOutputFolder())
        return Card->OutputFolder();
    return std::nullopt;
}

ConversionOptions TFrmZarvelo::CurrentOptions() const
{
    ConversionOptions options = Card->Options();
    options.SaveFormat = FSaveFormat;
    options.SavePath = WantedOutputFolder().value_or(QString());
    options.TimeoutSeconds = ReadSetting(TSettingId::ToolTimeout).toInt();
    return options;
}

void TFrmZarvelo::ShowCard(int index)
{
    (index == 0 ? BtnHome : BtnConfig)->setChecked(true);
    PnlMain->setCurrentIndex(index);
}

void TFrmZarvelo::ChooseFormat(const QString &format, bool store)
{
    FSaveFormat = format;
    Card->ShowFormat(format);
    if (store)
        SaveSetting(TSettingId::Format, format);
    ShowStartCaption();
}

void TFrmZarvelo::ShowStartCaption()
{
    QString text;
    if (IsBusy())
        text = Translate(QStringLiteral("취소"));
    else
        text = Translate(FMode == TWindowMode::AutoDone ? QStringLiteral("%s 로 변환완료")
                                                        : QStringLiteral("%s 로 변환하기"))
                   .replace(QStringLiteral("%s"), FSaveFormat);
    BtnStart->setText(text);
    {
        const QSignalBlocker blocker(CmbFormat);
        const TOutputFormat *format = FindOutputFormat(FSaveFormat);
        CmbFormat->setCurrentIndex(format ? int(format - OutputFormats().data()) : -1);
        CmbFormat->setEnabled(FMode == TWindowMode::Normal && !IsBusy());
    }
    // A long translation widens the button leftwards instead of being cut.
    const int needed = BtnStart->fontMetrics().horizontalAdvance(text) + 20;
    PnlStart->setFixedWidth(std::max(kStartButtonWidth, needed));
}

void TFrmZarvelo::BtnStartClick()
{
    if (IsBusy()) {
        CancelJob();
        return;
    }
    if (FMode == TWindowMode::AutoDone) {
        close();
        return;
    }
    Start(false);
}

void TFrmZarvelo::BtnRetryClick()
{
    if (!IsBusy())
        Start(true);
}

void TFrmZarvelo::Start(bool failedOnly)
{
    const ConversionOptions options = CurrentOptions();
    const std::optional<QString> folder = WantedOutputFolder();
    const TStartResult result =
        failedOnly ? FSession->RetryFailed(options, folder) : FSession->StartAll(options, folder);
    if (result == TStartResult::NothingToDo && FModel->rowCount() == 0 && FMode == TWindowMode::Normal)
        ShowNote(Translate(QStringLiteral("변환할 파일이 없습니다. 먼저 파일을 추가하세요 (Ctrl+O).")));
    if (result != TStartResult::BadOutputFolder)
        return;
    QMessageBox box(QMessageBox::Critical, windowTitle(),
                    Translate(QStringLiteral("저장될 폴더를 다시 입력해주세요.")), QMessageBox::Ok, this);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

void TFrmZarvelo::CancelJob()
{
    if (!IsBusy())
        return;
    FSession->Cancel();
    // The job ends as soon as its tools have stopped.
    BtnStart->setEnabled(false);
}

void TFrmZarvelo::ShowBusy(int rows)
{
    // Busy: the button cancels, the settings card cannot be reached.
    LblSummary->hide();
    BtnOpenFolder->hide();
    ProgressBar->setRange(0, rows);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(true);
    ProgressBar->setFormat(QStringLiteral("0 / %1").arg(rows));
    ProgressBar->show();
    ShowStartCaption();
    BtnStart->setEnabled(true);
    BtnHome->setEnabled(false);
    BtnConfig->setEnabled(false);
    Indicator->move(kIndicatorBusy);
    Indicator->show();
    Indicator->start();
}

void TFrmZarvelo::ShowRowFinished(int row, const ConversionResult &result)
{
    // A run started by another program shows its failures there too.
    if (IsAutoMode() && !result.Success)
        printError(FModel->fileInfo(row).FileName + QStringLiteral(": ") +
                   (FModel->reason(row).isEmpty() ? Translate(QStringLiteral("실패")) : FModel->reason(row)));
}

void TFrmZarvelo::ShowProgress(int finished, int total)
{
    QString text = QStringLiteral("%1 / %2").arg(finished).arg(total);
    // Time left from the pace of the files finished so far.
    if (finished > 0 && finished < total) {
        const qint64 left = FSession->ElapsedMs() * (total - finished) / finished;
        text += QStringLiteral(" \u00B7 ") +
                Translate(QStringLiteral("%s 남음")).replace(QStringLiteral("%s"), DurationText(left));
    }
    ProgressBar->setFormat(text);
    ProgressBar->setValue(finished);
}

void TFrmZarvelo::ShowFinished(bool cancelled)
{
    Indicator->stop();
    Indicator->hide();
    Indicator->move(kIndicatorIdle);
    ProgressBar->hide();
    ProgressBar->setValue(0);
    if (FMode == TWindowMode::Auto && !cancelled) {
        // The button now closes the window; the format menu is gone for good.
        FMode = TWindowMode::AutoDone;
        BtnStart->setContextMenuPolicy(Qt::NoContextMenu);
    }
    ShowStartCaption();
    BtnStart->setEnabled(true);
    BtnHome->setEnabled(true);
    BtnConfig->setEnabled(FMode == TWindowMode::Normal);

    const QString note = FSession->CancelNote();
    LblSummary->setText(note.isEmpty() ? FSession->Summary()
                                       : note + QLatin1Char('\n') + FSession->Summary());
    LblSummary->show();
    BtnOpenFolder->setVisible(!ResultFolder().isEmpty() && QFileInfo(ResultFolder()).isDir());
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
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    edit->setPlainText(text);
    layout->addWidget(edit);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QPushButton *copy = buttons->addButton(Translate(QStringLiteral("복사")), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("BtnCopy"));
    connect(copy, &QPushButton::clicked, dialog, [text] { QGuiApplication::clipboard()->setText(text); });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->open();
    return dialog;
}

void TFrmZarvelo::UpdateListMenu()
{
    const bool idle = !IsBusy() && FMode == TWindowMode::Normal;
    bool failed = false;
    for (int i = 0; i < FModel->rowCount() && !failed; ++i)
        failed = FModel->state(i) == TRowState::Fail;
    BtnDetails->setEnabled(ListFile->currentIndex().isValid());
    BtnRetry->setEnabled(!IsBusy() && failed);
    BtnDelete->setEnabled(idle && ListFile->selectionModel()->hasSelection());
    BtnDeleteAll->setEnabled(idle && FModel->rowCount() > 0);
}

void TFrmZarvelo::OpenResultFolder()
{
    const QString folder = ResultFolder();
    if (OpenLocalFolder(folder))
        return;
    ShowNote(Translate(QStringLiteral("폴더를 열 수 없습니다: %s")).replace(QStringLiteral("%s"), folder));
}

void TFrmZarvelo::ShowNote(const QString &text)
{
    LblSummary->setText(text);
    LblSummary->setToolTip(text);
    LblSummary->show();
}

void TFrmZarvelo::FitColumns()
{
    // The widest translated state, with room for the cell's margins.
    int widest = 0;
    for (const TRowState state :
         {TRowState::Ready, TRowState::Converting, TRowState::Success, TRowState::Fail, TRowState::Skipped})
        widest = std::max(widest, ListFile->fontMetrics().horizontalAdvance(StateText(state)));
    FStatusWidth = std::max(60, widest + 10);
    ListFile->header()->resizeSection(TFileListModel::ColumnStatus, FStatusWidth);
    const int extra = std::max(0, width() - kStartSize.width());
    ListFile->header()->resizeSection(TFileListModel::ColumnName,
                                      kNameColumnWidth + extra - (FStatusWidth - 60));
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

void TFrmZarvelo::closeEvent(QCloseEvent *event)
{
    // While a job runs the user is asked; the window closes once the
    // cancelled job has ended (its tools stopped, partial outputs removed).
    if (IsBusy()) {
        event->ignore();
        if (FQuitAfterCancel)
            return;
        QMessageBox box(QMessageBox::Question, windowTitle(),
                        Translate(QStringLiteral("변환을 취소하고 종료할까요?")),
                        QMessageBox::Yes | QMessageBox::No, this);
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

void TFrmZarvelo::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!FThemed) {
        FThemed = true;
        ApplyTheme(this, true);
        // The theme may change the button's font.
        ShowStartCaption();
    }
}

void TFrmZarvelo::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FitColumns();
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
    if (watched == ImgLogo && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && ImgLogo->rect().contains(mouse->position().toPoint()))
            OpenDocument(WebHost() + QStringLiteral("/zarvelo?v=") +
                         GetVersionString(QStringLiteral("%d.%d.%d.%d")));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
