#pragma once
// The main window: a "Dekrypter" group (container file, target folder) and a "Krypter" group
// (file, target folder). It gathers and checks the paths and hands the work to the jobs.
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jobs/ContainerFormat.h"
#include "jobs/JobMode.h"
#include "platform/SecretBytes.h"
#include "ui/SelectFolderDialog.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScreen;

namespace kvelv {

class BusyIndicator;
class Prompter;
class UiPrompter;

// The window's font: Tahoma at 11 pixels; without Tahoma a face of similar width, else the
// platform's sans-serif, at the same size.
QFont MainWindowFont();
// `font`, made narrower and at most two pixels smaller when needed, so that each of `texts`
// fits in `room` pixels (as far as that goes): the layout's room with a wider fallback face.
QFont FitLabelFont(QFont font, const QStringList& texts, int room);
// `frame` moved (and shrunk when larger) so that it lies wholly within `available`.
QRect FitOnScreen(QRect frame, const QRect& available);

// The caption of the check box that chooses the sealed container format.
inline constexpr const char kStrongFormatCaption[] = "Forsterket";

class Hoved final : public QWidget {
  Q_OBJECT

 public:
  using JobFunction = std::function<int(const platform::SecretBytes& password, const std::string& source,
                                        const std::string& target, JobMode mode, Prompter&)>;

  // Reads its placement and paths from `settingsPath` (FormCreate). `arguments` are the
  // command-line parameters without the program's name.
  Hoved(UiPrompter& prompter, std::string settingsPath, std::vector<std::string> arguments,
        QWidget* parent = nullptr);
  ~Hoved() override;

  // The accepted password (UTF-8), held in secret storage for the whole run.
  const platform::SecretBytes& Password() const { return password_; }
  void SetPassword(platform::SecretBytes password) { password_ = std::move(password); }
  bool CommandLineHandled() const { return commandLineHandled_; }
  SelectFolderDialog& selectfolder() { return selectfolder_; }

  // Replacements for tests: the jobs and the clock (Unix seconds).
  void SetJobs(JobFunction encrypt, JobFunction decrypt);
  void SetClock(std::function<int64_t()> now) { now_ = std::move(now); }

  void btnDecryptClick();
  void btnEncryptClick();
  void btnEncryptedFileClick();
  void btnFileToEncryptClick();
  void btnDecryptToFolderClick();
  void btnEncryptToFolderClick();
  // First activation only: decrypts the single command-line parameter, or with "-encrypt" and a
  // path puts that path into the file to encrypt.
  void FormActivate();
  // True while a job runs; the window then takes no second action, and closing it asks whether
  // to stop the job (the window closes once the job has ended).
  bool Busy() const { return busy_; }
  QCheckBox* chkStrongFormat() const { return chkStrongFormat_; }
  // The running job's progress indication (null when no job runs).
  BusyIndicator* Indicator() const { return indicator_; }

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildControls();
  void FormCreate();
  void FormClose();
  void Guarded(const std::function<void()>& action);
  void RunJob(const std::function<void(Prompter&)>& job);
  void PickFile(QLineEdit* edit, const std::string& title, const std::string& filter);
  void PickFolder(QLineEdit* edit, const std::string& title);
  void SetActionsEnabled(bool enabled);
  // The path in `edit`, as CleanPastedPath makes it unless the text as it stands names something;
  // the edit then shows the path used.
  std::string PathIn(QLineEdit* edit);
  void LayOut();
  void KeepOnScreen();
  // The minimum size, made smaller where the screen is smaller (a large scale factor).
  void FitMinimumToScreen();
  // The screen's available area the window's frame must fit in.
  QRect UsableArea(const QScreen& screen) const;

  UiPrompter& prompter_;
  std::string settingsPath_;
  std::vector<std::string> arguments_;
  platform::SecretBytes password_;
  bool commandLineHandled_ = false;
  bool busy_ = false;
  bool closeAfterJob_ = false;  // the user chose to stop the job and close the window
  BusyIndicator* indicator_ = nullptr;
  JobFunction encrypt_;
  JobFunction decrypt_;
  std::function<int64_t()> now_;
  SelectFolderDialog selectfolder_;
  QSize designedOuterSize_;  // the size from the settings, corrected for the frame once shown

  // The widgets; their object names stay the design's (GroupBox2, Label4, txtEncryptedFile, ...).
  QGroupBox* decryptGroup_;
  QLabel* lblEncryptedFile_;
  QLabel* lblDecryptToFolder_;
  QLineEdit* txtEncryptedFile_;
  QLineEdit* txtDecryptToFolder_;
  QPushButton* btnEncryptedFile_;
  QPushButton* btnDecryptToFolder_;
  QPushButton* btnDecrypt_;
  QGroupBox* encryptGroup_;
  QLabel* lblFileToEncrypt_;
  QLabel* lblEncryptToFolder_;
  QLineEdit* txtFileToEncrypt_;
  QLineEdit* txtEncryptToFolder_;
  QPushButton* btnFileToEncrypt_;
  QPushButton* btnEncryptToFolder_;
  QPushButton* btnEncrypt_;
  QCheckBox* chkStrongFormat_;
  // The format the next encryption writes, taken from the check box when it starts.
  ContainerFormat encryptFormat_ = ContainerFormat::Classic;
};

}  // namespace kvelv
