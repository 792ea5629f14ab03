#include "settingscard.h"

#include "tools.h"
#include "translate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace
{

const QString kUnwritableFormat = QStringLiteral("이 컴퓨터의 이미지 도구는 이 형식을 저장할 수 없습니다");

template <typename W> W *named(W *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

// A spin box's value is its text as typed; text that is no integer counts
// as the box's lower bound.
int spinValue(const QSpinBox *box)
{
    bool ok = false;
    const int value = box->cleanText().trimmed().toInt(&ok);
    return ok ? value : box->minimum();
}

QSpinBox *spinBox(QWidget *parent, const QString &name, int min, int max, int width)
{
    auto *box = named(new QSpinBox(parent), name);
    box->setRange(min, max);
    box->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    box->setFixedWidth(width);
    return box;
}

// Button captions treat '&' as a shortcut mark; a folder name shows it as is.
QString literalCaption(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// A row of widgets from the left, the rest of the row empty.
QHBoxLayout *leftRow(std::initializer_list<QWidget *> widgets)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(4);
    for (QWidget *widget : widgets)
        row->addWidget(widget);
    row->addStretch(1);
    return row;
}

} // namespace

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

TSettingsCard::TSettingsCard(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PnlSetting"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 3, 8, 0);
    layout->setSpacing(4);
    layout->addWidget(buildOutputGroup());
    layout->addWidget(buildOptionGroup());
    layout->addWidget(buildJobGroup());
    layout->addStretch(1);
    layout->addWidget(buildInfo());
    connectControls();
}

QGroupBox *TSettingsCard::buildOutputGroup()
{
    GrpOutput = named(new QGroupBox(QStringLiteral("저장경로"), this), QStringLiteral("GrpOutput"));
    auto *grid = new QGridLayout(GrpOutput);
    grid->setContentsMargins(14, 4, 8, 8);
    grid->setVerticalSpacing(4);
    ChkPath_1 =
        named(new QRadioButton(QStringLiteral("원본 파일 폴더"), GrpOutput), QStringLiteral("ChkPath_1"));
    ChkPath_2 = named(new QRadioButton(GrpOutput), QStringLiteral("ChkPath_2"));
    // Any folder fits: a long path is cut rather than widening the card.
    ChkPath_2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    BtnSaveDir = named(new QToolButton(GrpOutput), QStringLiteral("BtnSaveDir"));
    BtnSaveDir->setText(QStringLiteral("\u2026"));
    BtnSaveDir->setAutoRaise(true);
    BtnSaveDir->setFixedSize(20, 21);
    grid->addWidget(ChkPath_1, 0, 0, 1, 2, Qt::AlignLeft);
    grid->addWidget(ChkPath_2, 1, 0);
    grid->addWidget(BtnSaveDir, 1, 1);
    grid->setColumnStretch(0, 1);
    return GrpOutput;
}

QGroupBox *TSettingsCard::buildOptionGroup()
{
    GrpOption = named(new QGroupBox(QStringLiteral("변환옵션"), this), QStringLiteral("GrpOption"));
    auto *grid = new QGridLayout(GrpOption);
    grid->setContentsMargins(13, 5, 8, 5);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    // Three formats a row: six do not fit one row beside the label in every language.
    auto *formats = new QGridLayout;
    formats->setHorizontalSpacing(6);
    formats->setVerticalSpacing(0);
    for (const TOutputFormat &format : OutputFormats()) {
        auto *radio =
            named(new QRadioButton(format.Caption, GrpOption), QStringLiteral("Btn") + format.Caption);
        const int index = int(FormatButtons.size());
        formats->addWidget(radio, index / 3, index % 3);
        FormatButtons.append(radio);
    }
    formats->setColumnStretch(3, 1);
    // The check box turns resizing on; the list beside it says how.
    ChkWidth = named(new QCheckBox(GrpOption), QStringLiteral("ChkWidth"));
    CmbResize = named(new QComboBox(GrpOption), QStringLiteral("CmbResize"));
    CmbResize->addItems({QStringLiteral("너비(px)"), QStringLiteral("긴 변(px)"), QStringLiteral("상자(px)"),
                         QStringLiteral("비율(%)")});
    CmbResize->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    buildResizeValues();
    ChkShrinkOnly =
        named(new QCheckBox(QStringLiteral("축소만"), GrpOption), QStringLiteral("ChkShrinkOnly"));
    EditQuality = spinBox(GrpOption, QStringLiteral("EditQuality"), FormatLimits::MinQuality,
                          FormatLimits::MaxQuality, 54);
    EditQuality->setValue(FormatLimits::DefaultQuality);
    EditQuality->setToolTip(QStringLiteral("손실 압축시 적용"));
    FWidthText = EditWidth->text();
    FQualityText = EditQuality->text();

    grid->addWidget(named(new QLabel(QStringLiteral("저장형식 :"), GrpOption), QStringLiteral("Label1")), 0,
                    0, Qt::AlignTop);
    grid->addLayout(formats, 0, 1);
    grid->addWidget(named(new QLabel(QStringLiteral("크기조정 :"), GrpOption), QStringLiteral("LblResize")),
                    1, 0);
    grid->addLayout(leftRow({ChkWidth, CmbResize, PnlResize}), 1, 1);
    grid->addLayout(leftRow({ChkShrinkOnly}), 2, 1);
    grid->addWidget(named(new QLabel(QStringLiteral("품질조정 :"), GrpOption), QStringLiteral("LblQuality")),
                    3, 0);
    grid->addLayout(leftRow({EditQuality}), 3, 1);
    showResize(ConversionOptions());
    holdBackFormats();
    grid->setColumnStretch(1, 1);
    return GrpOption;
}

QWidget *TSettingsCard::buildResizeValues()
{
    using namespace FormatLimits;
    PnlResize = named(new QStackedWidget(GrpOption), QStringLiteral("PnlResize"));
    EditWidth = spinBox(PnlResize, QStringLiteral("EditWidth"), 0, MaxWidth, 65);
    EditWidth->setValue(DefaultWidth);
    EditLongEdge = spinBox(PnlResize, QStringLiteral("EditLongEdge"), 0, MaxWidth, 65);
    EditLongEdge->setValue(DefaultWidth);
    auto *box = new QWidget(PnlResize);
    auto *boxRow = new QHBoxLayout(box);
    boxRow->setContentsMargins(0, 0, 0, 0);
    boxRow->setSpacing(2);
    EditFitWidth = spinBox(box, QStringLiteral("EditFitWidth"), 0, MaxWidth, 65);
    EditFitHeight = spinBox(box, QStringLiteral("EditFitHeight"), 0, MaxWidth, 65);
    EditFitWidth->setValue(DefaultWidth);
    EditFitHeight->setValue(DefaultWidth);
    boxRow->addWidget(EditFitWidth);
    boxRow->addWidget(new QLabel(QStringLiteral("\u00D7"), box));
    boxRow->addWidget(EditFitHeight);
    EditPercent = spinBox(PnlResize, QStringLiteral("EditPercent"), MinPercent, MaxPercent, 54);
    EditPercent->setValue(DefaultPercent);
    for (QWidget *page : {static_cast<QWidget *>(EditWidth), static_cast<QWidget *>(EditLongEdge), box,
                          static_cast<QWidget *>(EditPercent)})
        PnlResize->addWidget(page);
    PnlResize->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return PnlResize;
}

void TSettingsCard::showResize(const ConversionOptions &options)
{
    ChkWidth->setChecked(options.UseWidth);
    CmbResize->setCurrentIndex(int(options.ResizeMode));
    PnlResize->setCurrentIndex(int(options.ResizeMode));
    for (QWidget *control : {static_cast<QWidget *>(CmbResize), static_cast<QWidget *>(PnlResize),
                             static_cast<QWidget *>(ChkShrinkOnly)})
        control->setEnabled(options.UseWidth);
    EditWidth->setValue(options.Width);
    EditLongEdge->setValue(options.LongEdge);
    EditFitWidth->setValue(options.FitWidth);
    EditFitHeight->setValue(options.FitHeight);
    EditPercent->setValue(options.Percent);
    ChkShrinkOnly->setChecked(options.ShrinkOnly);
    FWidthText = EditWidth->text();
    FLongEdgeText = EditLongEdge->text();
    FFitWidthText = EditFitWidth->text();
    FFitHeightText = EditFitHeight->text();
    FPercentText = EditPercent->text();
}

void TSettingsCard::holdBackFormats()
{
    for (qsizetype i = 0; i < FormatButtons.size(); ++i) {
        if (FormatUnavailableReason(OutputFormats()[i].Caption).isEmpty())
            continue;
        FormatButtons[i]->setEnabled(false);
        FormatButtons[i]->setToolTip(kUnwritableFormat);
    }
}

void TSettingsCard::connectResize()
{
    connect(ChkWidth, &QAbstractButton::toggled, this, [this](bool on) {
        SaveSetting(TSettingId::ResizeWidth, on);
        CmbResize->setEnabled(on);
        PnlResize->setEnabled(on);
        ChkShrinkOnly->setEnabled(on);
    });
    connect(CmbResize, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0)
            return;
        PnlResize->setCurrentIndex(index);
        SaveSetting(TSettingId::ResizeMode, ResizeModeName(TResizeMode(index)));
    });
    connect(ChkShrinkOnly, &QAbstractButton::toggled, this,
            [](bool on) { SaveSetting(TSettingId::ShrinkOnly, on); });
    connectSpinBox(EditWidth, &FWidthText, TSettingId::Width);
    connectSpinBox(EditLongEdge, &FLongEdgeText, TSettingId::LongEdge);
    connectSpinBox(EditFitWidth, &FFitWidthText, TSettingId::FitWidth);
    connectSpinBox(EditFitHeight, &FFitHeightText, TSettingId::FitHeight);
    connectSpinBox(EditPercent, &FPercentText, TSettingId::Percent);
}

QGroupBox *TSettingsCard::buildJobGroup()
{
    GrpJob = named(new QGroupBox(QStringLiteral("작업옵션"), this), QStringLiteral("GrpJob"));
    auto *grid = new QGridLayout(GrpJob);
    grid->setContentsMargins(13, 9, 8, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    EditWorkers = spinBox(GrpJob, QStringLiteral("EditWorkers"), 0, MaxWindowWorkers, 64);
    // 0: one worker per core.
    EditWorkers->setSpecialValueText(QStringLiteral("자동"));
    EditWorkers->setValue(0);
    ChkKeepMeta =
        named(new QCheckBox(QStringLiteral("메타데이터 유지"), GrpJob), QStringLiteral("ChkKeepMeta"));
    ChkKeepMeta->setChecked(true);
    ChkKeepTree =
        named(new QCheckBox(QStringLiteral("폴더 구조 유지"), GrpJob), QStringLiteral("ChkKeepTree"));
    grid->addWidget(named(new QLabel(QStringLiteral("동시 작업 :"), GrpJob), QStringLiteral("LblWorkers")), 0,
                    0);
    grid->addLayout(leftRow({EditWorkers}), 0, 1);
    ChkKeepDates = named(new QCheckBox(QStringLiteral("날짜 유지"), GrpJob), QStringLiteral("ChkKeepDates"));
    // Metadata and dates share a row, so that the card keeps the window's
    // start size with the choice for existing outputs below.
    auto *kept = leftRow({ChkKeepMeta, ChkKeepDates});
    kept->setSpacing(16);
    grid->addLayout(kept, 1, 0, 1, 2);
    grid->addWidget(ChkKeepTree, 2, 0, 1, 2);
    // What happens when an output's name is taken, in TExistingPolicy order.
    CmbExisting = named(new QComboBox(GrpJob), QStringLiteral("CmbExisting"));
    CmbExisting->addItems(
        {QStringLiteral("새 이름으로 저장"), QStringLiteral("건너뛰기"), QStringLiteral("덮어쓰기")});
    CmbExisting->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    grid->addWidget(named(new QLabel(QStringLiteral("기존 파일 :"), GrpJob), QStringLiteral("LblExisting")),
                    3, 0);
    grid->addLayout(leftRow({CmbExisting}), 3, 1);
    grid->setColumnStretch(1, 1);
    return GrpJob;
}

QWidget *TSettingsCard::buildInfo()
{
    auto *info = named(new QWidget(this), QStringLiteral("PnlInfo"));
    info->setFixedHeight(36);
    auto *layout = new QHBoxLayout(info);
    layout->setContentsMargins(7, 4, 0, 10);
    EditInfo = named(new QLineEdit(info), QStringLiteral("EditInfo"));
    EditInfo->setFixedWidth(170);
    EditInfo->setFrame(false);
    EditInfo->setReadOnly(true);
    EditInfo->setFocusPolicy(Qt::NoFocus);
    EditInfo->installEventFilter(this);
    layout->addWidget(EditInfo);
    layout->addStretch(1);
    return info;
}

void TSettingsCard::connectControls()
{
    for (qsizetype i = 0; i < FormatButtons.size(); ++i) {
        connect(FormatButtons[i], &QAbstractButton::toggled, this,
                [this, caption = OutputFormats()[i].Caption](bool on) {
                    if (!on)
                        return;
                    SaveSetting(TSettingId::Format, caption);
                    emit FormatChosen(caption);
                });
    }
    connect(ChkPath_1, &QAbstractButton::toggled, this, [](bool on) {
        if (on)
            SaveSetting(TSettingId::Save, 1);
    });
    connect(ChkPath_2, &QAbstractButton::toggled, this, [](bool on) {
        if (on)
            SaveSetting(TSettingId::Save, 2);
    });
    connectResize();
    connectSpinBox(EditQuality, &FQualityText, TSettingId::Quality);
    connect(BtnSaveDir, &QAbstractButton::clicked, this, &TSettingsCard::BtnSaveDirClick);
    connect(EditWorkers, &QSpinBox::valueChanged, this,
            [](int value) { SaveSetting(TSettingId::Workers, value); });
    connect(ChkKeepMeta, &QAbstractButton::toggled, this,
            [](bool on) { SaveSetting(TSettingId::KeepMeta, on); });
    connect(ChkKeepTree, &QAbstractButton::toggled, this,
            [](bool on) { SaveSetting(TSettingId::KeepTree, on); });
    connect(ChkKeepDates, &QAbstractButton::toggled, this,
            [](bool on) { SaveSetting(TSettingId::KeepDates, on); });
    connect(CmbExisting, &QComboBox::currentIndexChanged, this,
            [](int index) { SaveSetting(TSettingId::Existing, ExistingPolicyName(TExistingPolicy(index))); });
}

void TSettingsCard::connectSpinBox(QSpinBox *box, QString *last, TSettingId id)
{
    // A spin box reports its own text changes only for acceptable values;
    // its editor reports typed text as well. Both lead to one write per
    // change of the text.
    const auto changed = [box, last, id] {
        if (box->text() == *last)
            return;
        *last = box->text();
        SaveSetting(id, spinValue(box));
    };
    connect(box, &QSpinBox::textChanged, this, changed);
    connect(box->findChild<QLineEdit *>(), &QLineEdit::textChanged, this, changed);
}

void TSettingsCard::Show(const TStoredSettings &settings)
{
    const QList<QWidget *> controls{ChkPath_1,    ChkPath_2,    ChkWidth,      CmbResize,   EditWidth,
                                    EditLongEdge, EditFitWidth, EditFitHeight, EditPercent, ChkShrinkOnly,
                                    EditQuality,  EditWorkers,  ChkKeepMeta,   ChkKeepTree, ChkKeepDates, CmbExisting};
    QList<std::shared_ptr<QSignalBlocker>> blockers;
    for (QWidget *control : controls) {
        blockers.append(std::make_shared<QSignalBlocker>(control));
        if (auto *editor = control->findChild<QLineEdit *>())
            blockers.append(std::make_shared<QSignalBlocker>(editor));
    }

    const ConversionOptions &options = settings.Options;
    SetOutputFolder(settings.OutputFolder);
    showResize(options);
    EditQuality->setValue(options.Quality);
    EditWorkers->setValue(options.Workers);
    ChkKeepMeta->setChecked(options.KeepMetadata);
    ChkKeepTree->setChecked(options.KeepTree);
    ChkKeepDates->setChecked(options.KeepDates);
    CmbExisting->setCurrentIndex(int(options.Existing));
    FQualityText = EditQuality->text();
    (settings.IntoOutputFolder ? ChkPath_2 : ChkPath_1)->setChecked(true);
    blockers.clear();
    ShowFormat(options.SaveFormat);
}

void TSettingsCard::ShowFormat(const QString &format)
{
    for (qsizetype i = 0; i < FormatButtons.size(); ++i) {
        if (OutputFormats()[i].Caption == format) {
            const QSignalBlocker blocker(FormatButtons[i]);
            FormatButtons[i]->setChecked(true);
        }
    }
}

void TSettingsCard::SetVersionText(const QString &text)
{
    EditInfo->setText(text);
}

void TSettingsCard::TranslateExtras()
{
    for (QRadioButton *button : std::as_const(FormatButtons))
        if (!button->isEnabled())
            button->setToolTip(Translate(kUnwritableFormat));
    EditWorkers->setSpecialValueText(Translate(QStringLiteral("자동")));
    // The box is as wide as its longest text ("Automatique") needs.
    const int text = EditWorkers->fontMetrics().horizontalAdvance(EditWorkers->specialValueText());
    EditWorkers->setFixedWidth(std::max(64, text + 36));
}

ConversionOptions TSettingsCard::Options() const
{
    ConversionOptions options;
    options.UseWidth = ChkWidth->isChecked();
    options.Width = spinValue(EditWidth);
    options.ResizeMode = TResizeMode(std::max(0, CmbResize->currentIndex()));
    options.LongEdge = spinValue(EditLongEdge);
    options.FitWidth = spinValue(EditFitWidth);
    options.FitHeight = spinValue(EditFitHeight);
    options.Percent = spinValue(EditPercent);
    options.ShrinkOnly = ChkShrinkOnly->isChecked();
    options.Quality = spinValue(EditQuality);
    options.KeepMetadata = ChkKeepMeta->isChecked();
    options.KeepTree = ChkKeepTree->isChecked();
    options.KeepDates = ChkKeepDates->isChecked();
    options.Existing = TExistingPolicy(CmbExisting->currentIndex());
    options.Workers = spinValue(EditWorkers);
    return options;
}

bool TSettingsCard::IntoOutputFolder() const
{
    return ChkPath_2->isChecked();
}

bool TSettingsCard::eventFilter(QObject *watched, QEvent *event)
{
    // Clicking the version text drops the focus of the window.
    if (watched == EditInfo && event->type() == QEvent::MouseButtonPress) {
        if (QWidget *focused = window()->focusWidget())
            focused->clearFocus();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TSettingsCard::BtnSaveDirClick()
{
    QString path = FOutputFolder;
    if (SelectFolder(path, window())) {
        SaveSetting(TSettingId::SavePath, path);
        SetOutputFolder(path);
    }
}

void TSettingsCard::SetOutputFolder(const QString &folder)
{
    FOutputFolder = folder;
    ChkPath_2->setText(literalCaption(folder));
    ChkPath_2->setToolTip(folder);
}
