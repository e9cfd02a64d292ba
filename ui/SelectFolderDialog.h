#pragma once
// The folder chooser component: holds the settings between runs and builds a SelectFolderForm
// for each run.
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>

namespace kvelv {

class SelectFolderForm;
class UiPrompter;

// Bit set of options, bit 0 first.
enum SelectFolderDialogOption : unsigned {
  sfdoCreateDeleteButtons = 1u << 0,  // shows "Create Folder" and "Delete"
  sfdoContextMenus = 1u << 1,         // no shell context menu here: accepted and ignored
  sfdoReadOnly = 1u << 2,             // folder names cannot be edited in place
  sfdoIncludeNonFolders = 1u << 3,    // files are listed too
  sfdoOleDrag = 1u << 4,              // items can be dragged out of the tree
  sfdoOleDrop = 1u << 5,              // items can be dropped onto the tree
  sfdoCreateFolderIcon = 1u << 6,     // "Create Folder" shows its icon
  sfdoDeleteFolderIcon = 1u << 7,     // "Delete" shows its icon
  sfdoVirtualFolders = 1u << 8,       // no items beyond the file system here: ignored
  sfdoShowHidden = 1u << 9,           // hidden folders are listed
};
using SelectFolderDialogOptions = unsigned;

enum class FormPosition { Designed, ScreenCenter, OwnerCenter };

class SelectFolderDialog {
 public:
  SelectFolderDialog(UiPrompter& prompter, QWidget* owner = nullptr);
  ~SelectFolderDialog();
  SelectFolderDialog(const SelectFolderDialog&) = delete;
  SelectFolderDialog& operator=(const SelectFolderDialog&) = delete;

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  SelectFolderDialogOptions Options() const { return options_; }
  void SetOptions(SelectFolderDialogOptions options) { options_ = options; }
  bool ShowButtonGlyphs() const { return showButtonGlyphs_; }
  void SetShowButtonGlyphs(bool show) { showButtonGlyphs_ = show; }
  // The selected folder's path; after a confirmed run the choice ("" for an item without a path).
  const std::string& FolderPath() const { return folderPath_; }
  void SetFolderPath(const std::string& path) { folderPath_ = path; }

  kvelv::FormPosition FormPosition() const { return formPosition_; }
  void SetFormPosition(kvelv::FormPosition position) { formPosition_ = position; }
  // Left and top apply only with FormPosition::Designed; width and height only when above 0.
  int FormLeft() const { return formLeft_; }
  void SetFormLeft(int value) { formLeft_ = value; }
  int FormTop() const { return formTop_; }
  void SetFormTop(int value) { formTop_ = value; }
  int FormWidth() const { return formWidth_; }
  void SetFormWidth(int value) { formWidth_ = value; }
  int FormHeight() const { return formHeight_; }
  void SetFormHeight(int value) { formHeight_ = value; }
  Qt::WindowState FormWindowState() const { return formWindowState_; }
  void SetFormWindowState(Qt::WindowState state) { formWindowState_ = state; }

  // Builds the window, runs it modally and gives true only when it closed with OK; then the
  // selection becomes FolderPath. Every run records the window's placement for the next one.
  // Throws Error "TSelectFolderDialog already executing" when called during a run.
  bool Execute();

  // Replaces the modal run of the built window (tests drive the window and give its result).
  void SetRunHook(std::function<int(SelectFolderForm&)> hook) { runHook_ = std::move(hook); }

 private:
  SelectFolderForm* CreateForm();

  UiPrompter& prompter_;
  QPointer<QWidget> owner_;
  std::string title_;
  SelectFolderDialogOptions options_ =
      sfdoContextMenus | sfdoCreateFolderIcon | sfdoDeleteFolderIcon | sfdoShowHidden;
  bool showButtonGlyphs_ = false;
  std::string folderPath_;
  kvelv::FormPosition formPosition_ = kvelv::FormPosition::ScreenCenter;
  int formLeft_ = -1;
  int formTop_ = -1;
  int formWidth_ = -1;
  int formHeight_ = -1;
  Qt::WindowState formWindowState_ = Qt::WindowNoState;
  bool executing_ = false;
  SelectFolderForm* form_ = nullptr;
  std::function<int(SelectFolderForm&)> runHook_;
};

}  // namespace kvelv
