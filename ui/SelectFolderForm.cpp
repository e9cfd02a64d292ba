#include "ui/SelectFolderForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QLineEdit>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/Desktop.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "ui/FocusCues.h"
#include "ui/ShortenPath.h"
#include "ui/UiPrompter.h"

namespace kvelv {

namespace {

constexpr int kDesignWidth = 358;
constexpr int kDesignHeight = 325;
// The outer minimum 366 x 340 less a classic frame: 4-pixel borders and a 19-pixel caption.
constexpr int kMinClientWidth = 366 - 8;
constexpr int kMinClientHeight = 340 - 27;
constexpr int kPanelHeight = 29;
constexpr int kStatusHeight = 19;
// The tree's width is the outer width minus 24; with the frame that is the client width minus 17.
constexpr int kTreeWidthLoss = 17;
constexpr int kNamingTries = 50;

QString Q(const std::string& text) { return QString::fromStdString(text); }

enum class MakeResult { Created, Exists, Failed };

MakeResult MakeFolder(const platform::Folder& parent, const std::string& name, std::string& error) {
  std::error_code ec;
  if (parent.IsOpen() && parent.CreateSubfolder(name, false, ec)) return MakeResult::Created;
  if (ec == std::errc::file_exists) return MakeResult::Exists;
  if (ec) error = ec.message();
  return MakeResult::Failed;
}

// MS Sans Serif 8 point (11 pixels at 96 pixels per inch) where the system has it.
void UseDesignedFont(QWidget& form) {
  const QString family = QStringLiteral("MS Sans Serif");
  if (!QFontDatabase::families().contains(family, Qt::CaseInsensitive)) return;
  QFont font(family);
  font.setPixelSize(11);
  form.setFont(font);
}

std::string CreateWarning(const std::string& name, const std::string& error) {
  return "Unable to create the folder '" + name + "'\n\n" + error;
}

// Qt's trash makes only the last folder of the user's trash, and without its parent it moved the
// folder into files/ and info/ of the current folder. So the home trash is made here first,
// and nothing is moved when that cannot be done.
bool MoveToTrash(const QString& path) {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (data.isEmpty() || QDir::isRelativePath(data)) return false;
  const QString trash = data + QStringLiteral("/Trash");
  const bool existed = QFileInfo(trash).isDir();
  for (const char* part : {"/files", "/info"})
    if (!QDir().mkpath(trash + QLatin1String(part))) return false;
  if (!existed) QFile::setPermissions(trash, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return QFile::moveToTrash(path);
}

// Folder names edited in place. Enter ends the edit here, and goes no further: it never also
// presses the dialog's default button. A refused name keeps the editor open.
class FolderNameDelegate final : public QStyledItemDelegate {
 public:
  explicit FolderNameDelegate(SelectFolderForm& form) : QStyledItemDelegate(&form), form_(form) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    editing_ = index;
    return QStyledItemDelegate::createEditor(parent, option, index);
  }

  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    // The edit ends without Enter (the focus went elsewhere): the same rename; a refused name is
    // reported once the editor is gone, and edited again.
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (!edit || refusing_) return;
    const QString name = edit->text();
    const std::optional<std::string> refused = form_.TryRename(index, name);
    if (!refused) return;
    QTimer::singleShot(0, &form_, [this, index = QPersistentModelIndex(index), name, reason = *refused] {
      form_.RenameRefused(index, name, reason);
      if (!index.isValid()) return;
      QTreeView* view = form_.ShellTree();
      view->setCurrentIndex(index);
      view->edit(index);
      if (auto* again = view->findChild<QLineEdit*>()) {
        again->setText(name);
        again->selectAll();
      }
    });
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* edit = qobject_cast<QLineEdit*>(object);
    if (edit && event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        const std::optional<std::string> refused = form_.TryRename(editing_, edit->text());
        if (!refused) {
          emit closeEditor(edit, QAbstractItemDelegate::NoHint);
          return true;
        }
        refusing_ = true;  // the warning takes the focus: that must not end the edit
        form_.RenameRefused(editing_, edit->text(), *refused);
        refusing_ = false;
        edit->setFocus();
        edit->selectAll();
        return true;
      }
    }
    if (edit && refusing_ && (event->type() == QEvent::FocusOut || event->type() == QEvent::Hide)) return true;
    return QStyledItemDelegate::eventFilter(object, event);
  }

 private:
  SelectFolderForm& form_;
  mutable QPersistentModelIndex editing_;
  bool refusing_ = false;
};

}  // namespace

SelectFolderForm::SelectFolderForm(UiPrompter& prompter, SelectFolderDialogOptions options,
                                   bool buttonGlyphs, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      prompter_(prompter),
      options_(options),
      model_(new QFileSystemModel(this)),
      btnNewFolder_(new QToolButton(this)),
      btnDeleteFolder_(new QToolButton(this)),
      ShellTree_(new QTreeView(this)),
      ButtonPanel_(new QWidget(this)),
      // The platform's OK and Cancel, in the user's language where Qt has a translation.
      btnOk_(new QPushButton(QCoreApplication::translate("QPlatformTheme", "OK"), ButtonPanel_)),
      btnCancel_(new QPushButton(QCoreApplication::translate("QPlatformTheme", "Cancel"), ButtonPanel_)),
      StatusBar1_(new QLabel(this)) {
  setObjectName(QStringLiteral("SelectFolderForm"));
  UseDesignedFont(*this);
  resize(kDesignWidth, kDesignHeight);
  setMinimumSize(kMinClientWidth, kMinClientHeight);
  setSizeGripEnabled(false);

  const bool buttons = (options_ & sfdoCreateDeleteButtons) != 0;
  btnNewFolder_->setObjectName(QStringLiteral("btnNewFolder"));
  btnNewFolder_->setText(QStringLiteral("Create Folder"));
  btnNewFolder_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  btnNewFolder_->setAutoRaise(true);
  btnNewFolder_->setGeometry(8, 4, 121, 24);
  if (options_ & sfdoCreateFolderIcon)
    btnNewFolder_->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
  btnNewFolder_->setVisible(buttons);
  connect(btnNewFolder_, &QToolButton::clicked, this, &SelectFolderForm::CreateBtnClick);

  btnDeleteFolder_->setObjectName(QStringLiteral("btnDeleteFolder"));
  btnDeleteFolder_->setText(QStringLiteral("Delete"));
  btnDeleteFolder_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  btnDeleteFolder_->setAutoRaise(true);
  btnDeleteFolder_->setGeometry(137, 4, 92, 24);
  if (options_ & sfdoDeleteFolderIcon)
    btnDeleteFolder_->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
  btnDeleteFolder_->setVisible(buttons);
  connect(btnDeleteFolder_, &QToolButton::clicked, this, &SelectFolderForm::DeleteBtnClick);

  QDir::Filters filter = QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot;
  if (options_ & sfdoIncludeNonFolders) filter |= QDir::Files;
  if (options_ & sfdoShowHidden) filter |= QDir::Hidden;
  model_->setFilter(filter);
  model_->setReadOnly((options_ & sfdoReadOnly) != 0);
  model_->setRootPath(QStringLiteral("/"));
  // Folders are read and sorted in the background, which moves rows after the selection was
  // made; until the user takes over, keep bringing the selection back into view.
  auto follow = [this] {
    if (!followSelection_) return;
    QTimer::singleShot(0, this, [this] {
      if (followSelection_)
        ShellTree_->scrollTo(ShellTree_->currentIndex(), QAbstractItemView::PositionAtCenter);
    });
  };
  connect(model_, &QFileSystemModel::directoryLoaded, this, follow);
  connect(model_, &QFileSystemModel::layoutChanged, this, follow);
  connect(model_, &QFileSystemModel::rowsInserted, this, follow);
  connect(model_, &QFileSystemModel::fileRenamed, this, &SelectFolderForm::FolderRenamed);

  ShellTree_->setObjectName(QStringLiteral("ShellTree"));
  ShellTree_->setModel(model_);
  for (int column = 1; column < model_->columnCount(); ++column) ShellTree_->hideColumn(column);
  ShellTree_->header()->hide();
  ShellTree_->setIndentation(19);
  ShellTree_->setEditTriggers((options_ & sfdoReadOnly) ? QAbstractItemView::NoEditTriggers
                                                        : QAbstractItemView::SelectedClicked |
                                                              QAbstractItemView::EditKeyPressed);
  ShellTree_->setItemDelegate(new FolderNameDelegate(*this));
  ShellTree_->setDragEnabled((options_ & sfdoOleDrag) != 0);
  ShellTree_->setAcceptDrops((options_ & sfdoOleDrop) != 0);
  ShellTree_->setGeometry(8, 32, 341, 241);
  ShellTree_->installEventFilter(this);
  ShellTree_->viewport()->installEventFilter(this);
  connect(ShellTree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          &SelectFolderForm::ShellTreeChange);

  ButtonPanel_->setObjectName(QStringLiteral("ButtonPanel"));
  btnOk_->setObjectName(QStringLiteral("btnOk"));
  btnOk_->setDefault(true);
  btnCancel_->setObjectName(QStringLiteral("btnCancel"));
  if (buttonGlyphs) {
    btnOk_->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    btnCancel_->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  }
  connect(btnOk_, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

  StatusBar1_->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1_->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  // Enter presses the focused button, tool buttons included, as on Windows.
  btnNewFolder_->installEventFilter(this);
  btnDeleteFolder_->installEventFilter(this);
  ShowFocusFromTheStart(this);

  ShellTree_->setFocus();
  LayOut();
  ShellTreeChange();
}

void SelectFolderForm::SelectPath(const std::string& path) {
  QString wanted = QDir::fromNativeSeparators(Q(path));
  // A drive's root keeps its separator ("C:/").
  while (wanted.size() > 1 && wanted.endsWith(QLatin1Char('/')) &&
         !(wanted.size() == 3 && wanted[1] == QLatin1Char(':')))
    wanted.chop(1);
  QModelIndex index;
  if (!wanted.isEmpty() && QDir(wanted).exists()) index = model_->index(wanted);
  if (!index.isValid()) index = model_->index(0, 0, QModelIndex());
  ShellTree_->setCurrentIndex(index);
  ShellTree_->scrollTo(index);
  ShellTreeChange();
}

std::string SelectFolderForm::SelectedPath() const {
  const QModelIndex index = ShellTree_->currentIndex();
  if (!index.isValid()) return "";
  return QDir::toNativeSeparators(model_->filePath(index)).toStdString();
}

bool SelectFolderForm::IsFirstNode(const QModelIndex& index) const {
  return index.isValid() && index == model_->index(0, 0, QModelIndex());
}

void SelectFolderForm::ShellTreeChange() {
  const std::string path = SelectedPath();
  ShowStatusPath();
  btnNewFolder_->setEnabled(!path.empty());
  btnDeleteFolder_->setEnabled(!path.empty() && !IsFirstNode(ShellTree_->currentIndex()));
}

void SelectFolderForm::ShowStatusPath() {
  const QFontMetrics metrics(font());
  const int limit = StatusBar1_->width() - 20;
  StatusBar1_->setText(Q(ShortenPath(SelectedPath(), [&](const std::string& text) {
    return metrics.horizontalAdvance(Q(text)) <= limit;
  }, platform::kSeparator)));
}

void SelectFolderForm::LayOut() {
  const int w = width();
  const int h = height();
  StatusBar1_->setGeometry(0, h - kStatusHeight, w, kStatusHeight);
  ButtonPanel_->setGeometry(0, h - kStatusHeight - kPanelHeight, w, kPanelHeight);
  btnCancel_->setGeometry(w - 8 - 75, 2, 75, 23);
  btnOk_->setGeometry(btnCancel_->x() - 8 - 75, 2, 75, 23);

  int top = 8;
  if (!btnNewFolder_->isHidden()) top = btnNewFolder_->geometry().bottom() + 1 + 4;
  else if (!btnDeleteFolder_->isHidden()) top = btnDeleteFolder_->geometry().bottom() + 1 + 4;
  const int left = ShellTree_->x();
  ShellTree_->setGeometry(left, top, w - kTreeWidthLoss, ButtonPanel_->y() - 4 - top);
  ShowStatusPath();
}

void SelectFolderForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayOut();
}

bool SelectFolderForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* button = qobject_cast<QToolButton*>(watched);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      button->click();
      return true;
    }
  }
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
      followSelection_ = false;
      break;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

void SelectFolderForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Only now has the tree its final size, so bring the start folder into view again.
  ShellTree_->scrollTo(ShellTree_->currentIndex(), QAbstractItemView::PositionAtCenter);
}

void SelectFolderForm::CreateBtnClick() {
  std::string parent = SelectedPath();
  if (parent.empty()) parent = platform::CurrentFolder();
  std::error_code openError;
  const platform::Folder base = platform::Folder::Open(parent, openError);

  std::string created;
  auto attempt = [&](const std::string& name) {
    std::string error = openError.message();
    switch (MakeFolder(base, name, error)) {
      case MakeResult::Created:
        created = name;
        return true;
      case MakeResult::Exists:
        return false;
      case MakeResult::Failed:
        throw std::runtime_error(CreateWarning(name, error));
    }
    return false;
  };
  try {
    if (!attempt("New Folder"))
      for (int n = 2; n <= kNamingTries && created.empty(); ++n)
        attempt("New Folder (" + std::to_string(n) + ")");
    if (created.empty() && !attempt("fldr"))
      for (int n = 2; n <= kNamingTries && created.empty(); ++n) attempt("fldr" + std::to_string(n));
  } catch (const std::runtime_error& e) {
    prompter_.ShowWarning(e.what());
    return;
  }
  if (created.empty()) {
    prompter_.ShowWarning(
        CreateWarning("New Folder", std::make_error_code(std::errc::file_exists).message()));
    return;
  }

  // The model learns of the new folder at once when asked for it by path.
  const QModelIndex parentIndex = model_->index(QDir::fromNativeSeparators(Q(parent)));
  const QModelIndex child = model_->index(QDir::fromNativeSeparators(Q(base.PathOf(created))));
  if (parentIndex.isValid()) ShellTree_->expand(parentIndex);
  if (!child.isValid()) return;
  ShellTree_->setCurrentIndex(child);
  ShellTree_->scrollTo(child);
  if (!(options_ & sfdoReadOnly)) ShellTree_->edit(child);
}

void SelectFolderForm::DeleteBtnClick() {
  const QModelIndex index = ShellTree_->currentIndex();
  const std::string path = SelectedPath();
  if (path.empty() || IsFirstNode(index)) return;
  // Where the system has a shell, its own delete with its own confirmation: the Recycle Bin.
  if (const auto recycled = platform::ShellRecycleFolder(path, winId(), true)) {
    if (*recycled && index.parent().isValid()) ShellTree_->setCurrentIndex(index.parent());
    return;
  }
  if (!prompter_.AskYesNo("Move the folder '" + path + "' to the trash?", "Delete Folder")) return;
  if (!MoveToTrash(Q(path))) {
    if (!prompter_.AskYesNo("The folder '" + path + "' cannot be moved to the trash.\n\n"
                            "Delete it permanently?",
                            "Delete Folder"))
      return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    if (ec) {
      prompter_.ShowWarning("Unable to delete the folder '" + path + "'\n\n" + ec.message());
      return;
    }
  }
  const QModelIndex parent = index.parent();
  if (parent.isValid()) ShellTree_->setCurrentIndex(parent);
}

std::optional<std::string> SelectFolderForm::TryRename(const QModelIndex& index, const QString& name) {
  if (!index.isValid()) return std::nullopt;
  const QString old = model_->fileName(index);
  if (name == old || model_->setData(index, name)) return std::nullopt;  // the model renames on disk too
  // Refused: find out why. A name with a separator would be a move, so it is never tried.
  if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QDir::separator()))
    return "A folder name can be neither empty nor contain \"" + std::string(1, platform::kSeparator) + "\".";
  std::error_code ec;
  const platform::Folder parent =
      platform::Folder::Open(QDir::toNativeSeparators(model_->filePath(index.parent())).toStdString(), ec);
  if (parent.IsOpen() && parent.RenameToNewName(old.toStdString(), parent, name.toStdString(), ec))
    return std::nullopt;  // it went through this time; the model sees it
  return ec ? ec.message() : std::string("The name cannot be used.");
}

void SelectFolderForm::RenameRefused(const QModelIndex& index, const QString& name, const std::string& reason) {
  const std::string old = index.isValid() ? model_->fileName(index).toStdString() : std::string();
  prompter_.ShowWarning("Unable to rename the folder '" + old + "' to '" + name.toStdString() + "'\n\n" + reason);
}

void SelectFolderForm::FolderRenamed(const QString& folder, const QString&, const QString& name) {
  // The model renames the node in place and leaves the order as it was; sort it again (the
  // model sorts only when the order changes) and show the new path once that is done.
  QTimer::singleShot(0, this, [this, path = folder + QLatin1Char('/') + name] {
    model_->sort(0, Qt::DescendingOrder);
    model_->sort(0, Qt::AscendingOrder);
    const QModelIndex renamed = model_->index(path);
    if (renamed.isValid() && ShellTree_->currentIndex() != renamed) ShellTree_->setCurrentIndex(renamed);
    ShellTree_->scrollTo(ShellTree_->currentIndex());
    ShellTreeChange();
  });
}

}  // namespace kvelv
