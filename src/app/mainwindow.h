#pragma once

#include "conversion.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QToolButton;
class QTreeView;
class TConversionJob;
class TDragFile;
class TFileListModel;
class TIndicator;
class TStyledButton;

// Shows the folder picker (directory mode, title Translate("폴더 선택"),
// accept button Translate("선택")) starting at path. On confirmation path
// becomes the chosen folder (no trailing separator) and the result is true;
// on cancel path is unchanged and the result is false.
bool SelectFolder(QString &path, QWidget *parent = nullptr);

// Opens a folder of this machine in the desktop's file manager. False when
// the folder does not exist or could not be opened.
bool OpenLocalFolder(const QString &folder);

// The program's one window: a header that switches between two cards, the
// file list with the start button (card 0) and the settings card (card 1).
//
// Every option lives in its control; each change of a control is written to
// the settings file at once, one key per write. While a job runs (IsBusy) the
// start button reads "Cancel", the list ignores drops and both delete
// commands, and closing asks whether to cancel and quit.
class TFrmZarvelo : public QWidget
{
    Q_OBJECT
public:
    // Runs the start-up sequence: first card, captions translated, settings
    // loaded; then either the command-line run or the drop target and the
    // update check.
    explicit TFrmZarvelo(const QStringList &arguments, QWidget *parent = nullptr);
    ~TFrmZarvelo() override;

    // Dropped paths (files or folders). Ignored while a job runs.
    void AddFile(const QStringList &paths);

    // The options a conversion reads, as the controls stand now.
    ConversionOptions CurrentOptions() const;

    // The start button's caption for one of its patterns ("%s 로 변환하기",
    // "%s 로 변환완료"): translated, with SaveFormat in place of %s.
    QString FormatCaption(const QString &pattern) const;

    // The output folder shown by ChkPath_2 (the savepath setting).
    QString OutputFolder() const { return FOutputFolder; }

    TFileListModel *fileList() const { return FModel; }
    QTreeView *listFile() const { return ListFile; }
    TStyledButton *btnStart() const { return BtnStart; }
    QLabel *lblSummary() const { return LblSummary; }
    QToolButton *btnOpenFolder() const { return BtnOpenFolder; }
    QMenu *popList() const { return PopList; }
    // Whether a job runs (until its Finished signal has been handled).
    bool IsBusy() const { return FJob != nullptr; }
    // The folder of the last job's outputs, as the open-folder button opens it.
    QString ResultFolder() const { return FResultFolder; }
    TStyledButton *btnHome() const { return BtnHome; }
    TStyledButton *btnConfig() const { return BtnConfig; }
    QProgressBar *progressBar() const { return ProgressBar; }
    TIndicator *indicator() const { return Indicator; }
    QRadioButton *chkPath2() const { return ChkPath_2; }
    QMenu *popSave() const { return PopSave; }

    QString SaveFormat; // output format: one of the five names, or any stored or command-line text
    QString SavePath;   // output folder of the running job; empty: next to each source
    bool AutoMode = false;

public slots:
    // Idle: starts a job (all rows; after a cancelled job the rows still
    // Ready). Busy: cancels the job.
    void BtnStartClick();
    // Converts the failed rows again; the other rows are left alone.
    void BtnRetryClick();
    void BtnDeleteClick();
    void BtnDeleteAllClick();
    void EditInfoClick();
    // Stops the running job; unfinished rows return to Ready when it ends.
    void CancelJob();

public:
    // Shows the row's path, state, reason and the tools' output in a dialog
    // (read-only, copyable) that frees itself when closed.
    QDialog *ShowDetails(int row);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildHeader(QWidget *head);
    QWidget *buildHomeCard();
    QWidget *buildSettingCard();
    void buildListMenu();
    void connectHandlers();
    void SetStartCaption(const QString &text);
    bool StartJob(const QList<int> &rows, bool resetAll);
    void JobRowStarted(int index);
    void JobRowFinished(int index, const ConversionResult &result);
    void JobProgress(int finished, int total);
    void JobFinished(bool cancelled);
    void FitCaptions();

    // The command-line run ("/auto FORMAT PATH..."): returns true when it
    // took over the start-up, after which no drop target and no update check
    // are made.
    bool StartAutoMode(const QStringList &arguments);

    void BtnHomeClick(QObject *sender);
    void LoadSettings();
    void ShowSaveFormat(bool persist);
    void ChkJPGClick(QObject *sender);
    void ChkPath_1Click(QObject *sender);
    void ChkWidthClick();
    void EditWidthChange();
    void EditQualityChange();
    void BtnSaveDirClick();
    void SetOutputFolder(const QString &folder);

    static void SaveIntSetting(const QString &key, int value);
    static void SaveBoolSetting(const QString &key, bool value);
    static void SaveStringSetting(const QString &key, const QString &value);

    TFileListModel *FModel = nullptr;
    std::unique_ptr<TDragFile> DragFile;
    QString FOutputFolder;
    QString FWidthText, FQualityText; // box texts last handled
    bool FThemed = false;

    TConversionJob *FJob = nullptr; // the running job; null when idle
    QList<int> FJobRows;            // list row of each job item
    QElapsedTimer FJobTimer;
    int FSucceeded = 0, FFailed = 0;
    QString FResultFolder;          // where the last job's outputs went
    bool FResume = false;           // the last job was cancelled: a start goes on with Ready rows
    bool FQuitAfterCancel = false;  // close once the cancelled job has ended

    QWidget *PnlHead = nullptr;
    QWidget *PnlLogo = nullptr;
    QWidget *ImgLogo = nullptr;
    QWidget *BtnHead = nullptr;
    QButtonGroup *HeadGroup = nullptr;
    TStyledButton *BtnHome = nullptr;
    TStyledButton *BtnConfig = nullptr;
    TStyledButton *BtnDonate = nullptr;
    QStackedWidget *PnlMain = nullptr;
    QTreeView *ListFile = nullptr;
    QWidget *PnlStart = nullptr;
    TStyledButton *BtnStart = nullptr;
    QLabel *LblSummary = nullptr;
    QToolButton *BtnOpenFolder = nullptr;
    TIndicator *Indicator = nullptr;
    QProgressBar *ProgressBar = nullptr;

    QGroupBox *GrpOutput = nullptr;
    QRadioButton *ChkPath_1 = nullptr;
    QRadioButton *ChkPath_2 = nullptr;
    QToolButton *BtnSaveDir = nullptr;
    QGroupBox *GrpOption = nullptr;
    QList<QRadioButton *> FormatButtons; // BtnJPG .. BtnTIFF
    QCheckBox *ChkWidth = nullptr;
    QSpinBox *EditWidth = nullptr;
    QSpinBox *EditQuality = nullptr;
    QGroupBox *GrpJob = nullptr;
    QSpinBox *EditWorkers = nullptr;
    QCheckBox *ChkKeepMeta = nullptr;
    QCheckBox *ChkKeepTree = nullptr;
    QLineEdit *EditInfo = nullptr;

    QMenu *PopSave = nullptr;
    QMenu *PopList = nullptr;
    QAction *BtnDetails = nullptr;
    QAction *BtnRetry = nullptr;
    QAction *BtnDelete = nullptr;
    QAction *BtnDeleteAll = nullptr;
};
