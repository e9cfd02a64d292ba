#include "ui/SelectFolderDialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <memory>

#include "platform/Error.h"
#include "ui/SelectFolderForm.h"

namespace kvelv {

SelectFolderDialog::SelectFolderDialog(UiPrompter& prompter, QWidget* owner)
    : prompter_(prompter), owner_(owner) {}

SelectFolderDialog::~SelectFolderDialog() = default;

SelectFolderForm* SelectFolderDialog::CreateForm() {
  if (form_ != nullptr) throw Error("TSelectFolderDialog form already active");
  QWidget* owner = owner_ ? owner_.data() : QApplication::activeWindow();
  form_ = new SelectFolderForm(prompter_, options_, showButtonGlyphs_, owner);
  return form_;
}

bool SelectFolderDialog::Execute() {
  if (executing_) throw Error("TSelectFolderDialog already executing");
  executing_ = true;
  struct Reset {
    SelectFolderDialog& self;
    ~Reset() {
      self.executing_ = false;
      self.form_ = nullptr;
    }
  } reset{*this};

  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::unique_ptr<SelectFolderForm> form;
  try {
    form.reset(CreateForm());
    form->setWindowTitle(title_.empty() ? QStringLiteral("Browse for Folder")
                                        : QString::fromStdString(title_));
    // The whole path, however long: a cut one named another folder, or none at all.
    form->SelectPath(folderPath_);

    QRect placement = form->geometry();
    if (formWidth_ > 0) placement.setWidth(formWidth_);
    if (formHeight_ > 0) placement.setHeight(formHeight_);
    // Never larger than the screen (a large scale factor on a small screen).
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QSize room = screen->availableGeometry().size();
      form->setMinimumSize(form->minimumSize().boundedTo(room));
      placement.setSize(placement.size().boundedTo(room));
    }
    form->resize(placement.size());
    if (formPosition_ == kvelv::FormPosition::Designed) {
      if (formLeft_ >= 0 && formTop_ >= 0) form->move(formLeft_, formTop_);
    } else {
      const QWidget* reference =
          formPosition_ == kvelv::FormPosition::OwnerCenter ? form->parentWidget() : nullptr;
      QRect area = reference ? reference->frameGeometry() : QRect();
      if (!reference && QGuiApplication::primaryScreen())
        area = QGuiApplication::primaryScreen()->availableGeometry();
      QRect frame = form->frameGeometry();
      frame.moveCenter(area.center());
      form->move(frame.topLeft());
    }
    form->setWindowState(formWindowState_);
  } catch (...) {
    QApplication::restoreOverrideCursor();
    throw;
  }
  QApplication::restoreOverrideCursor();

  const int result = runHook_ ? runHook_(*form) : form->exec();

  const QRect normal = form->normalGeometry().isValid() ? form->normalGeometry() : form->geometry();
  formLeft_ = normal.left();
  formTop_ = normal.top();
  formWidth_ = normal.width();
  formHeight_ = normal.height();
  const Qt::WindowStates state = form->windowState();
  formWindowState_ = state.testFlag(Qt::WindowMaximized)   ? Qt::WindowMaximized
                     : state.testFlag(Qt::WindowMinimized) ? Qt::WindowMinimized
                                                           : Qt::WindowNoState;
  if (result != QDialog::Accepted) return false;
  folderPath_ = form->SelectedPath();
  return true;
}

}  // namespace kvelv
