#include "ui/Hoved.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <exception>

#include "jobs/SettingsFile.h"
#include "jobs/DecryptJob.h"
#include "jobs/EncryptJob.h"
#include "jobs/FileProbes.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "ui/BackgroundJob.h"
#include "ui/EncryptTarget.h"
#include "ui/FocusCues.h"
#include "ui/GuiThreadPrompter.h"
#include "ui/PastedPath.h"
#include "ui/UiPrompter.h"

namespace kvelv {

namespace {

constexpr int kDesignClientWidth = 702;
constexpr int kDesignClientHeight = 198;
constexpr int kFontPixels = 11;  // Tahoma 8 point at 96 pixels per inch
// The labels stand between 10 and the edits at 128, and keep a few pixels from them.
constexpr int kLabelRoom = 128 - 10 - 4;
// The action buttons' captions keep clear of the 83-pixel buttons' frames.
constexpr int kActionRoom = 83 - 10;
// Below this the edits get too short for a path, and the groups end at 171.
constexpr int kMinClientWidth = 420;
constexpr int kMinClientHeight = 176;
constexpr int kMinLabelPixels = 9;

// The command-line option that fills in the file to encrypt.
const char* const kEncryptOption = "-encrypt";
const char* const kStopJobQuestion = "Jobben er ikke ferdig. Vil du avbryte den og lukke programmet?";

const char* const kPlacement = "Placement";
const char* const kPaths = "LastUsedPaths";
const char* const kEncryption = "Encryption";

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

QFont Plain(QFont font) {
  font.setBold(false);
  return font;
}

QFont Bold(QFont font) {
  font.setBold(true);
  return font;
}

// Read with a sentinel, so that a missing or unreadable value keeps the current one.
bool ReadPlacement(const SettingsFile& settings, const char* key, int& value) {
  const int32_t read = settings.ReadInteger(kPlacement, key, INT32_MIN);
  if (read == INT32_MIN) return false;
  value = read;
  return true;
}

}  // namespace

QFont MainWindowFont() {
  // Tahoma where it exists; else a face of similar width, so that the labels still fit in
  // front of the edits; else the platform's sans-serif. Always 11 pixels high.
  const QStringList available = QFontDatabase::families();
  for (const char* family : {"Tahoma", "Liberation Sans", "Arial", "DejaVu Sans Condensed"}) {
    if (available.contains(QString::fromLatin1(family), Qt::CaseInsensitive)) {
      QFont font(QString::fromLatin1(family));
      font.setPixelSize(kFontPixels);
      return font;
    }
  }
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(kFontPixels);
  return font;
}

QFont FitLabelFont(QFont font, const QStringList& texts, int room) {
  auto fits = [&](const QFont& candidate) {
    const QFontMetrics metrics(candidate);
    for (const QString& text : texts)
      if (metrics.horizontalAdvance(text) > room) return false;
    return true;
  };
  if (fits(font)) return font;
  // A wider fallback face: narrower letters first, a smaller size only when that is not enough.
  for (const int stretch : {QFont::SemiCondensed, QFont::Condensed}) {
    font.setStretch(stretch);
    if (fits(font)) return font;
  }
  while (font.pixelSize() > kMinLabelPixels && !fits(font)) font.setPixelSize(font.pixelSize() - 1);
  return font;
}

QRect FitOnScreen(QRect frame, const QRect& available) {
  frame.setWidth(std::min(frame.width(), available.width()));
  frame.setHeight(std::min(frame.height(), available.height()));
  frame.moveLeft(std::clamp(frame.left(), available.left(), available.right() + 1 - frame.width()));
  frame.moveTop(std::clamp(frame.top(), available.top(), available.bottom() + 1 - frame.height()));
  return frame;
}

Hoved::Hoved(UiPrompter& prompter, std::string settingsPath, std::vector<std::string> arguments, QWidget* parent)
    : QWidget(parent),
      prompter_(prompter),
      settingsPath_(std::move(settingsPath)),
      arguments_(std::move(arguments)),
      // The chosen file is one path, never split at ";" or any other character.
      encrypt_([this](const platform::SecretBytes& password, const std::string& file, const std::string& target,
                      JobMode mode, Prompter& prompter) {
        return EncryptFiles(password, {file}, target, mode, prompter, encryptFormat_);
      }),
      decrypt_([](const platform::SecretBytes& password, const std::string& container, const std::string& folder,
                  JobMode mode, Prompter& prompter) {
        return DecryptFileToFolder(password, container, folder, mode, prompter);
      }),
      now_(platform::NowUnixSeconds),
      selectfolder_(prompter, this) {
  selectfolder_.SetOptions(sfdoCreateDeleteButtons | sfdoContextMenus | sfdoCreateFolderIcon |
                           sfdoDeleteFolderIcon);
  selectfolder_.SetShowButtonGlyphs(true);
  BuildControls();
  FormCreate();
}

Hoved::~Hoved() = default;

void Hoved::SetJobs(JobFunction encrypt, JobFunction decrypt) {
  encrypt_ = std::move(encrypt);
  decrypt_ = std::move(decrypt);
}

void Hoved::BuildControls() {
  setObjectName(QStringLiteral("Hoved"));
  setWindowTitle(QStringLiteral("Orv Kvelv"));
  const QFont font = MainWindowFont();
  setFont(font);
  move(0, 0);
  resize(kDesignClientWidth, kDesignClientHeight);

  auto group = [&](const char* name, const char* caption, QRect geometry) {
    auto* box = new QGroupBox(QString::fromUtf8(caption), this);
    box->setObjectName(QString::fromLatin1(name));
    box->setFont(Bold(font));  // its buttons inherit the bold font
    box->setGeometry(geometry);
    return box;
  };
  auto label = [&](QWidget* box, const char* name, const char* caption, QPoint at) {
    auto* l = new QLabel(QString::fromUtf8(caption), box);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(Plain(font));
    l->move(at);
    l->adjustSize();
    return l;
  };
  auto edit = [&](QWidget* box, const char* name, QRect geometry) {
    auto* e = new QLineEdit(box);
    e->setObjectName(QString::fromLatin1(name));
    e->setFont(Plain(font));
    e->setGeometry(geometry);
    return e;
  };
  auto button = [&](QWidget* box, const char* name, const char* caption, QRect geometry,
                    void (Hoved::*handler)()) {
    auto* b = new QPushButton(QString::fromUtf8(caption), box);
    b->setObjectName(QString::fromLatin1(name));
    // Enter (and keypad Enter) press the focused button, as Space does.
    b->setAutoDefault(true);
    b->setGeometry(geometry);
    connect(b, &QPushButton::clicked, this, handler);
    return b;
  };

  decryptGroup_ = group("GroupBox2", "Dekrypter", QRect(4, 6, 690, 78));
  lblEncryptedFile_ = label(decryptGroup_, "Label4", "Kryptert fil", QPoint(10, 22));
  lblDecryptToFolder_ = label(decryptGroup_, "Label3", "Mappe for dekryptert fil", QPoint(10, 45));
  txtEncryptedFile_ = edit(decryptGroup_, "txtEncryptedFile", QRect(128, 17, 432, 21));
  txtDecryptToFolder_ = edit(decryptGroup_, "txtDecryptToFolder", QRect(128, 42, 432, 21));
  btnEncryptedFile_ =
      button(decryptGroup_, "btnEncryptedFile", "...", QRect(563, 18, 30, 21), &Hoved::btnEncryptedFileClick);
  btnDecryptToFolder_ =
      button(decryptGroup_, "btnDecryptToFolder", "...", QRect(563, 43, 30, 21), &Hoved::btnDecryptToFolderClick);
  btnDecrypt_ = button(decryptGroup_, "btnDecrypt", "Dekrypter fil", QRect(599, 30, 83, 25), &Hoved::btnDecryptClick);

  encryptGroup_ = group("GroupBox1", "Krypter", QRect(4, 93, 690, 78));
  lblFileToEncrypt_ = label(encryptGroup_, "Label2", "Fil som skal krypteres", QPoint(10, 26));
  lblEncryptToFolder_ = label(encryptGroup_, "Label1", "Mappe for kryptert fil", QPoint(10, 49));
  txtFileToEncrypt_ = edit(encryptGroup_, "txtFileToEncrypt", QRect(128, 20, 432, 21));
  txtEncryptToFolder_ = edit(encryptGroup_, "txtEncryptToFolder", QRect(128, 45, 432, 21));
  btnFileToEncrypt_ =
      button(encryptGroup_, "btnFileToEncrypt", "...", QRect(563, 20, 30, 21), &Hoved::btnFileToEncryptClick);
  btnEncryptToFolder_ =
      button(encryptGroup_, "btnEncryptToFolder", "...", QRect(563, 47, 30, 21), &Hoved::btnEncryptToFolderClick);
  btnEncrypt_ = button(encryptGroup_, "btnEncrypt", "Krypter fil", QRect(599, 32, 83, 25), &Hoved::btnEncryptClick);
  // The sealed container format (Argon2id, authenticated chunks) instead of the classic one.
  chkStrongFormat_ = new QCheckBox(QString::fromUtf8(kStrongFormatCaption), encryptGroup_);
  chkStrongFormat_->setObjectName(QStringLiteral("chkStrongFormat"));
  chkStrongFormat_->setFont(Plain(font));
  chkStrongFormat_->setToolTip(QString::fromUtf8(
      "Format 2: passordet gjøres sterkt med Argon2id og hver del av filen autentiseres.\n"
      "Eldre utgaver av Orv Kvelv kan ikke åpne slike filer."));
  chkStrongFormat_->setGeometry(599, 58, 88, 17);

  // The "Krypter" group first, so "Krypter fil" has the focus when the window opens.
  const QWidget* order[] = {btnEncrypt_,        txtEncryptToFolder_, txtFileToEncrypt_,
                            btnFileToEncrypt_,  btnEncryptToFolder_, chkStrongFormat_, btnDecrypt_,
                            txtDecryptToFolder_, txtEncryptedFile_,  btnEncryptedFile_,
                            btnDecryptToFolder_};
  for (std::size_t i = 1; i < std::size(order); ++i)
    setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
  btnEncrypt_->setFocus();
  ShowFocusFromTheStart(this);

  const QFont labelFont = FitLabelFont(
      Plain(font),
      {lblEncryptedFile_->text(), lblDecryptToFolder_->text(), lblFileToEncrypt_->text(), lblEncryptToFolder_->text()},
      kLabelRoom);
  for (QLabel* l : {lblEncryptedFile_, lblDecryptToFolder_, lblFileToEncrypt_, lblEncryptToFolder_}) {
    l->setFont(labelFont);
    l->adjustSize();
  }
  const QFont actionFont =
      FitLabelFont(Bold(font), {btnDecrypt_->text(), btnEncrypt_->text()}, kActionRoom);
  for (QPushButton* b : {btnDecrypt_, btnEncrypt_}) b->setFont(actionFont);
  FitMinimumToScreen();
}

QRect Hoved::UsableArea(const QScreen& screen) const {
  // Scaled, the frame's few pixels are rounded to whole scaled ones, perhaps down: one more to
  // spare keeps the frame's right edge, and the close button on it, on the screen.
  const int slack = devicePixelRatioF() > 1.0 ? 1 : 0;
  return screen.availableGeometry().adjusted(0, 0, -slack, -slack);
}

void Hoved::FitMinimumToScreen() {
  QSize minimum(kMinClientWidth, kMinClientHeight);
  if (const QScreen* shown = screen()) {
    // The frame is known once the window is shown; until then the minimum may be a frame too large.
    const QSize room = UsableArea(*shown).size() - (frameGeometry().size() - size());
    minimum = minimum.boundedTo(room).expandedTo(QSize(1, 1));
  }
  setMinimumSize(minimum);
}

void Hoved::LayOut() {
  // Anchors: left-top-right controls widen with the window, top-right ones move with its edge.
  const int dx = width() - kDesignClientWidth;
  for (QGroupBox* box : {decryptGroup_, encryptGroup_}) box->resize(std::max(0, 690 + dx), 78);
  for (QLineEdit* e : {txtEncryptedFile_, txtDecryptToFolder_, txtFileToEncrypt_, txtEncryptToFolder_})
    e->resize(std::max(0, 432 + dx), 21);
  const struct {
    QPushButton* button;
    int left;
  } moving[] = {{btnEncryptedFile_, 563}, {btnDecryptToFolder_, 563}, {btnDecrypt_, 599},
                {btnFileToEncrypt_, 563}, {btnEncryptToFolder_, 563}, {btnEncrypt_, 599}};
  for (const auto& m : moving) m.button->move(m.left + dx, m.button->y());
  chkStrongFormat_->move(599 + dx, chkStrongFormat_->y());
}

void Hoved::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void Hoved::FormCreate() {
  const SettingsFile settings(settingsPath_);
  int value = 0;
  if (ReadPlacement(settings, "Top", value)) move(x(), value);
  if (ReadPlacement(settings, "Left", value)) move(value, y());
  // Width and Height are the outer size; the frame is not known before the window is shown, so
  // the size is applied to the client area now and corrected at the first activation.
  if (ReadPlacement(settings, "Width", value)) {
    resize(value, height());
    designedOuterSize_.setWidth(value);
  }
  if (ReadPlacement(settings, "Height", value)) {
    resize(width(), value);
    designedOuterSize_.setHeight(value);
  }
  txtFileToEncrypt_->setText(QString::fromStdString(settings.ReadString(kPaths, "FileToEncrypt", "")));
  txtEncryptToFolder_->setText(QString::fromStdString(settings.ReadString(kPaths, "EncryptToFolder", "")));
  txtEncryptedFile_->setText(QString::fromStdString(settings.ReadString(kPaths, "EncryptedFile", "")));
  txtDecryptToFolder_->setText(QString::fromStdString(settings.ReadString(kPaths, "DecryptToFolder", "")));
  chkStrongFormat_->setChecked(settings.ReadInteger(kEncryption, "Format", 1) == 2);
  KeepOnScreen();
}

void Hoved::KeepOnScreen() {
  FitMinimumToScreen();
  // A placement stored on another screen setup may lie off this one.
  const QRect frame = frameGeometry();
  QScreen* screen = QGuiApplication::screenAt(frame.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect fitted = FitOnScreen(frame, UsableArea(*screen));
  if (fitted.size() != frame.size()) resize(size() - (frame.size() - fitted.size()));
  if (fitted.topLeft() != frame.topLeft()) move(fitted.topLeft());
}

void Hoved::FormClose() {
  SettingsFile settings(settingsPath_);
  const QRect frame = frameGeometry();
  settings.WriteInteger(kPlacement, "Top", frame.top());
  settings.WriteInteger(kPlacement, "Left", frame.left());
  settings.WriteInteger(kPlacement, "Width", frame.width());
  settings.WriteInteger(kPlacement, "Height", frame.height());
  settings.WriteString(kPaths, "FileToEncrypt", Text(txtFileToEncrypt_));
  settings.WriteString(kPaths, "EncryptToFolder", Text(txtEncryptToFolder_));
  settings.WriteString(kPaths, "EncryptedFile", Text(txtEncryptedFile_));
  settings.WriteString(kPaths, "DecryptToFolder", Text(txtDecryptToFolder_));
  settings.WriteInteger(kEncryption, "Format", chkStrongFormat_->isChecked() ? 2 : 1);
}

void Hoved::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    if (closeAfterJob_ || !indicator_) return;
    indicator_->Disarm();  // the question on top, not the progress
    // The job goes on meanwhile; when it ends first, the window closes once the question is
    // answered Yes all the same.
    if (prompter_.AskQuestion(kStopJobQuestion)) {
      closeAfterJob_ = true;
      indicator_->Status().RequestCancel();
    }
    indicator_->Arm();
    return;
  }
  // A refused write is shown, and the window closes all the same.
  Guarded([this] { FormClose(); });
  event->accept();
}

bool Hoved::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  if (event->type() == QEvent::WindowActivate) FormActivate();
  return handled;
}

void Hoved::FormActivate() {
  if (commandLineHandled_) return;
  commandLineHandled_ = true;
  const QSize frameExtra = frameGeometry().size() - size();
  if (!frameExtra.isNull()) {
    resize(designedOuterSize_.width() > 0 ? designedOuterSize_.width() - frameExtra.width() : width(),
           designedOuterSize_.height() > 0 ? designedOuterSize_.height() - frameExtra.height()
                                           : height());
  }
  KeepOnScreen();  // the frame is known now
  // "-encrypt <file>" (a desktop entry's action, "Open With"): the file to encrypt filled in.
  if (!arguments_.empty() &&
      QString::fromStdString(arguments_.front()).compare(QLatin1String(kEncryptOption), Qt::CaseInsensitive) == 0) {
    if (arguments_.size() == 2) txtFileToEncrypt_->setText(QString::fromStdString(arguments_.back()));
    return;
  }
  if (arguments_.size() != 1) return;
  txtEncryptedFile_->setText(QString::fromStdString(arguments_.front()));
  btnDecryptClick();
}

void Hoved::Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    prompter_.ShowError(e.what());
  }
}

void Hoved::SetActionsEnabled(bool enabled) {
  for (QPushButton* b : {btnEncryptedFile_, btnDecryptToFolder_, btnDecrypt_, btnFileToEncrypt_,
                         btnEncryptToFolder_, btnEncrypt_})
    b->setEnabled(enabled);
  // The running job's format is settled; the box waits for the next one.
  chkStrongFormat_->setEnabled(enabled);
  // The paths stay readable while a job runs, but not editable.
  for (QLineEdit* e : {txtEncryptedFile_, txtDecryptToFolder_, txtFileToEncrypt_, txtEncryptToFolder_})
    e->setReadOnly(!enabled);
}

void Hoved::RunJob(const std::function<void(Prompter&)>& job) {
  busy_ = true;
  const QPointer<QWidget> focus = focusWidget();
  // Not handed on to the next field, where a selected path would look like something to edit.
  if (focus) focus->clearFocus();
  SetActionsEnabled(false);
  BusyIndicator indicator(this);
  indicator_ = &indicator;
  GuiThreadPrompter marshalled(prompter_, this, &indicator);
  std::exception_ptr failure;
  try {
    RunInBackground(&indicator, [&] { job(marshalled); });
  } catch (...) {
    failure = std::current_exception();
  }
  indicator_ = nullptr;
  SetActionsEnabled(true);
  if (focus) focus->setFocus();
  busy_ = false;
  if (closeAfterJob_) QTimer::singleShot(0, this, &QWidget::close);
  if (failure) std::rethrow_exception(failure);
}

std::string Hoved::PathIn(QLineEdit* edit) {
  const std::string text = Text(edit);
  const std::string path = CleanPastedPath(text);
  if (path == text || platform::GetFileInfo(text)) return text;
  edit->setText(QString::fromStdString(path));
  return path;
}

void Hoved::btnDecryptClick() {
  if (busy_) return;
  Guarded([this] {
    const std::string file = PathIn(txtEncryptedFile_);
    if (!platform::FileExists(file)) return prompter_.ShowMessage("Filen finnes ikke! Velg ny fil.");
    const std::string folder = PathIn(txtDecryptToFolder_);
    if (!platform::FolderExists(folder))
      return prompter_.ShowMessage("Mappe for å lagre dekryptert fil finnes ikke! Velg mappe.");
    if (!HasWriteAccess(folder))
      return prompter_.ShowMessage("Har ikke skrivetilgang til valgt mappe! Velg mappe.");

    std::exception_ptr failure;
    try {
      RunJob([&](Prompter& p) { decrypt_(password_, file, folder, JobMode::Interactive, p); });
    } catch (...) {
      failure = std::current_exception();
    }
    // Whatever came of the job, the user gets to see the folder (unless the program is closing).
    if (!closeAfterJob_) prompter_.OpenFolder(folder);
    if (failure) std::rethrow_exception(failure);
  });
}

void Hoved::btnEncryptClick() {
  if (busy_) return;
  Guarded([this] {
    const std::string file = PathIn(txtFileToEncrypt_);
    if (!platform::FileExists(file)) return prompter_.ShowMessage("Filen finnes ikke! Velg fil.");
    // The target folder first: a question about the file is pointless when the container
    // cannot be written anyway.
    const std::string folder = PathIn(txtEncryptToFolder_);
    if (!platform::FolderExists(folder)) return prompter_.ShowMessage("Mappe finnes ikke! Velg mappe.");
    if (!HasWriteAccess(folder))
      return prompter_.ShowMessage("Har ikke skrivetilgang til valgt mappe! Velg mappe.");
    const auto info = platform::GetFileInfo(file);
    if (info && IsOlderThanAnHour(info->lastWriteTime, now_()) &&
        !prompter_.Confirm("Filen er gamlere enn en time, er det riktig fil?"))
      return;
    const std::string target = EncryptTargetPath(folder, file, platform::ToLocal(now_()));
    encryptFormat_ = chkStrongFormat_->isChecked() ? ContainerFormat::Sealed : ContainerFormat::Classic;
    RunJob([&](Prompter& p) { encrypt_(password_, file, target, JobMode::Interactive, p); });
  });
}

void Hoved::PickFile(QLineEdit* edit, const std::string& title, const std::string& filter) {
  if (busy_) return;
  Guarded([&] {
    const std::string text = PathIn(edit);
    std::string folder;
    if (!text.empty()) {
      folder = platform::FolderPart(text);
      if (folder.empty() && text.front() == platform::kSeparator) folder.assign(1, platform::kSeparator);
    }
    if (folder.empty() || !platform::FolderExists(folder)) folder = platform::CurrentFolder();
    if (const auto chosen = prompter_.AskOpenFile(title, filter, folder))
      edit->setText(QString::fromStdString(*chosen));
  });
}

void Hoved::PickFolder(QLineEdit* edit, const std::string& title) {
  if (busy_) return;
  Guarded([&] {
    std::string start = PathIn(edit);
    // The root keeps its only separator.
    if (start.size() > 1 && start.back() == platform::kSeparator) start.pop_back();
    if (!platform::FolderExists(start)) start = platform::CurrentFolder();
    if (start.empty() || start.back() != platform::kSeparator) start += platform::kSeparator;
    selectfolder_.SetFolderPath(start);
    selectfolder_.SetTitle(title);
    if (prompter_.RunFolderChooser(selectfolder_))
      edit->setText(QString::fromStdString(selectfolder_.FolderPath()));
  });
}

void Hoved::btnEncryptedFileClick() {
  PickFile(txtEncryptedFile_, "Velg fil som skal dekrypteres.", "Orv kryptert (*.orvkvelv)");
}

void Hoved::btnFileToEncryptClick() {
  PickFile(txtFileToEncrypt_, "Velg fil som skal krypteres.", "Alle filer (*)");
}

void Hoved::btnDecryptToFolderClick() {
  PickFolder(txtDecryptToFolder_, "Velg mappe for dekryptert fil");
}

void Hoved::btnEncryptToFolderClick() {
  PickFolder(txtEncryptToFolder_, "Velg mappe for kryptert fil");
}

}  // namespace kvelv
