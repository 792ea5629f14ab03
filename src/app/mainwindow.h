#pragma once

#include "settings.h"

#include <QWidget>

#include <memory>
#include <optional>

class QAction;
class QButtonGroup;
class QComboBox;
class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QRadioButton;
class QStackedWidget;
class QToolButton;
class QTreeView;
class TConversionSession;
class TDragFile;
class TFileListModel;
class TIndicator;
class TSettingsCard;
class TStyledButton;
struct ConversionResult;

// Opens a folder of this machine in the desktop's file manager. False when
// the folder does not exist or could not be opened.
bool OpenLocalFolder(const QString &folder);

// How the window was started, and where an /auto run stands.
enum class TWindowMode {
    Normal,   // started by the user: drops, settings card, update check
    Auto,     // "/auto FORMAT PATH...": converts next to the sources, format not stored
    AutoDone, // the /auto run ended: the start button closes the window
};

// The program's one window: a header that switches between two cards, the
// file list with the start button (card 0) and the settings card (card 1).
// It shows what its conversion session reports and never counts itself.
//
// While a job runs (IsBusy) the start button reads "Cancel", the list
// ignores drops and both delete commands, and closing asks whether to
// cancel and quit.
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

    // The options a conversion reads, as the controls stand now; SavePath is
    // the chosen output folder when the outputs go there, else empty.
    ConversionOptions CurrentOptions() const;

    // The output format: one of the table's captions, or any stored or
    // command-line text.
    QString SaveFormat() const { return FSaveFormat; }
    bool IsAutoMode() const { return FMode != TWindowMode::Normal; }
    // Whether a job runs (until its Finished signal has been handled).
    bool IsBusy() const;

    // The output folder shown by ChkPath_2 (the savepath setting).
    QString OutputFolder() const;
    // The folder of the last job's outputs, as the open-folder button opens it.
    QString ResultFolder() const;

    TFileListModel *fileList() const { return FModel; }
    QTreeView *listFile() const { return ListFile; }
    TStyledButton *btnStart() const { return BtnStart; }
    QLabel *lblSummary() const { return LblSummary; }
    QToolButton *btnOpenFolder() const { return BtnOpenFolder; }
    QMenu *popList() const { return PopList; }
    TStyledButton *btnHome() const { return BtnHome; }
    TStyledButton *btnConfig() const { return BtnConfig; }
    QProgressBar *progressBar() const { return ProgressBar; }
    TIndicator *indicator() const { return Indicator; }
    QRadioButton *chkPath2() const;
    QMenu *popSave() const { return PopSave; }
    QComboBox *cmbFormat() const { return CmbFormat; }

public slots:
  // Idle: starts a job (all rows; after a cancelled job the rows still
  // Ready). Busy: cancels the job. After an /auto run: closes the window.
  void BtnStartClick();
  // Converts the failed rows again; the other rows are left alone.
  void BtnRetryClick();
  void BtnDeleteClick();
  void BtnDeleteAllClick();
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
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void buildHeader();
  QTreeView *buildFileList(QWidget *parent);
  QWidget *buildHomeCard();
  QWidget *buildStartPanel(QWidget *parent);
  void buildMenus();
  void connectHandlers();
  void connectSession();
  void startUp(const QStringList &arguments);
  // The command-line run ("/auto FORMAT PATH..."): returns true when it
  // took over the start-up, after which no drop target and no update check
  // are made.
  bool StartAutoMode(const QStringList &arguments);
  void ShowAutoFormatError(const QString &given);

  void ShowCard(int index);
  void ChooseFormat(const QString &format, bool store);
  void ShowStartCaption();
  std::optional<QString> WantedOutputFolder() const;
  void Start(bool failedOnly);
  void ShowBusy(int rows);
  void ShowRowFinished(int row, const ConversionResult &result);
  void ShowProgress(int finished, int total);
  void ShowFinished(bool cancelled);
  // Enables the list menu's items that can apply now.
  void UpdateListMenu();
  // Opens the last job's output folder, or says why it cannot.
  void OpenResultFolder();
  // Status columns as wide as their translated texts; the name column takes the rest.
  void FitColumns();
  // A short text beside the start button in place of the summary.
  void ShowNote(const QString &text);

  TFileListModel *FModel = nullptr;
  TConversionSession *FSession = nullptr;
  std::unique_ptr<TDragFile> DragFile;
  QString FSaveFormat;
  TWindowMode FMode = TWindowMode::Normal;
  bool FThemed = false;
  bool FQuitAfterCancel = false; // close once the cancelled job has ended

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
  QComboBox *CmbFormat = nullptr;
  int FStatusWidth = 60; // the status column's width for the language in force
  QLabel *LblSummary = nullptr;
  QToolButton *BtnOpenFolder = nullptr;
  TIndicator *Indicator = nullptr;
  QProgressBar *ProgressBar = nullptr;
  TSettingsCard *Card = nullptr;

  QMenu *PopSave = nullptr;
  QMenu *PopList = nullptr;
  QAction *BtnDetails = nullptr;
  QAction *BtnRetry = nullptr;
  QAction *BtnDelete = nullptr;
  QAction *BtnDeleteAll = nullptr;
};
