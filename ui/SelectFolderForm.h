#pragma once
// The folder chooser's window: the folder tree, "Create Folder" and "Delete", OK and Cancel,
// and a status line with the selected folder's path.
#include <QDialog>
#include <optional>
#include <string>

#include "ui/SelectFolderDialog.h"

class QFileSystemModel;
class QLabel;
class QPushButton;
class QToolButton;
class QTreeView;
class QModelIndex;

namespace kvelv {

class UiPrompter;

class SelectFolderForm final : public QDialog {
  Q_OBJECT

 public:
  SelectFolderForm(UiPrompter& prompter, SelectFolderDialogOptions options, bool buttonGlyphs,
                   QWidget* owner = nullptr);

  // Selects the folder (a trailing "/" is allowed); the tree's first node when it cannot be found.
  void SelectPath(const std::string& path);
  // The selected item's file-system path, "" when nothing is selected.
  std::string SelectedPath() const;

  QTreeView* ShellTree() const { return ShellTree_; }
  QFileSystemModel* Model() const { return model_; }

  // Creates "New Folder" (or the first free variant) in the selected folder and starts editing
  // its name. Failures are reported as a warning.
  void CreateBtnClick();
  // Asks, then moves the selected folder to the trash, or, where there is no trash, asks again
  // and deletes it; never the tree's first node.
  void DeleteBtnClick();
  // Gives the folder `index` the name an in-place edit ended with; nothing when it has that
  // name now (or kept its own), else why the file system refused it. The tree's editor shows the
  // reason (RenameRefused) and stays open with the name selected.
  std::optional<std::string> TryRename(const QModelIndex& index, const QString& name);
  void RenameRefused(const QModelIndex& index, const QString& name, const std::string& reason);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShellTreeChange();
  void FolderRenamed(const QString& folder, const QString& oldName, const QString& newName);
  void LayOut();
  void ShowStatusPath();
  bool IsFirstNode(const QModelIndex& index) const;

  UiPrompter& prompter_;
  SelectFolderDialogOptions options_;
  QFileSystemModel* model_;
  QToolButton* btnNewFolder_;
  QToolButton* btnDeleteFolder_;
  QTreeView* ShellTree_;
  QWidget* ButtonPanel_;
  QPushButton* btnOk_;
  QPushButton* btnCancel_;
  QLabel* StatusBar1_;
  bool followSelection_ = true;  // until the user scrolls, clicks or types in the tree
};

}  // namespace kvelv
