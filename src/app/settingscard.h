#pragma once

#include "settings.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QStackedWidget;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QToolButton;

// Shows the folder picker (directory mode, title Translate("폴더 선택"),
// accept button Translate("선택")) starting at path. On confirmation path
// becomes the chosen folder (no trailing separator) and the result is true;
// on cancel path is unchanged and the result is false.
bool SelectFolder(QString &path, QWidget *parent = nullptr);

// The settings card (PnlSetting): output folder, format, width, quality and
// the job options, with the program's version below. Every change the user
// makes is stored at once, one key per write (SaveSetting); showing loaded
// settings stores nothing.
class TSettingsCard : public QWidget
{
    Q_OBJECT
  public:
    explicit TSettingsCard(QWidget *parent = nullptr);

    // Sets every control from loaded settings; nothing is stored.
    void Show(const TStoredSettings &settings);
    // Checks the format's radio button (none for a text outside the table);
    // nothing is stored, no signal.
    void ShowFormat(const QString &format);
    void SetVersionText(const QString &text);
    // Translates the texts TranslateComponent does not reach (the workers
    // box's "자동").
    void TranslateExtras();

    // The controls' values: resize, quality, metadata, tree, dates, workers,
    // what happens to an output that exists. The
    // format and the output folder are left at their defaults.
    ConversionOptions Options() const;
    QString OutputFolder() const { return FOutputFolder; }
    bool IntoOutputFolder() const;

    QRadioButton *chkPath2() const { return ChkPath_2; }

  signals:
    // The user picked a format on the card (already stored).
    void FormatChosen(const QString &format);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    QGroupBox *buildOutputGroup();
    QGroupBox *buildOptionGroup();
    QGroupBox *buildJobGroup();
    QWidget *buildInfo();
    void connectControls();
    QWidget *buildResizeValues();
    void connectSpinBox(QSpinBox *box, QString *last, TSettingId id);
    void connectResize();
    void showResize(const ConversionOptions &options);
    // Formats the image tool here cannot write are shown disabled, with why.
    void holdBackFormats();
    void BtnSaveDirClick();
    void SetOutputFolder(const QString &folder);

    QString FOutputFolder;
    QString FWidthText, FQualityText; // box texts last stored or shown
    QString FLongEdgeText, FFitWidthText, FFitHeightText, FPercentText;

    QGroupBox *GrpOutput = nullptr;
    QRadioButton *ChkPath_1 = nullptr;
    QRadioButton *ChkPath_2 = nullptr;
    QToolButton *BtnSaveDir = nullptr;
    QGroupBox *GrpOption = nullptr;
    QList<QRadioButton *> FormatButtons; // BtnJPG .. BtnTIFF, in table order
    QCheckBox *ChkWidth = nullptr;
    QSpinBox *EditWidth = nullptr;
    QComboBox *CmbResize = nullptr;      // the resize mode, in TResizeMode order
    QStackedWidget *PnlResize = nullptr; // the chosen mode's values
    QSpinBox *EditLongEdge = nullptr;
    QSpinBox *EditFitWidth = nullptr;
    QSpinBox *EditFitHeight = nullptr;
    QSpinBox *EditPercent = nullptr;
    QCheckBox *ChkShrinkOnly = nullptr;
    QSpinBox *EditQuality = nullptr;
    QGroupBox *GrpJob = nullptr;
    QSpinBox *EditWorkers = nullptr;
    QCheckBox *ChkKeepMeta = nullptr;
    QCheckBox *ChkKeepTree = nullptr;
    QCheckBox *ChkKeepDates = nullptr;
    QComboBox *CmbExisting = nullptr; // rename, skip, overwrite, in TExistingPolicy order
    QLineEdit *EditInfo = nullptr;
};
