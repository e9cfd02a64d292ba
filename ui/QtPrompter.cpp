#include "ui/QtPrompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QUrl>

#include "platform/Desktop.h"
#include "ui/FocusCues.h"
#include "ui/SelectFolderDialog.h"

namespace kvelv {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Makes the box at least as wide as its caption needs, and its focus visible from the start.
void Prepare(QMessageBox& box) {
  ShowFocusFromTheStart(&box);
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(CaptionWidth(box.windowTitle()), 0), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

int RunBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const std::string& text,
           QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, DisplayText(text), buttons, parent);
  Prepare(box);
  return box.exec();
}

}  // namespace

// Simple dialogs carry the application title, as the platform's message dialog does.
QString AppTitle() { return QStringLiteral("Orv krypterings klient"); }

int CaptionWidth(const QString& caption) {
  // The window manager draws the caption in a font the program cannot ask for; the title font
  // in bold is at least as wide in the usual themes. The frame's icon and up to four buttons
  // share the title bar with it.
  QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
  font.setBold(true);
  const QFontMetrics metrics(font);
  return metrics.horizontalAdvance(caption) + 5 * (metrics.height() + 8);
}

QString DisplayText(const std::string& text) {
  QString shown = Q(text);
  // "\n\r" first: in "\n\r\n\r" that finds both breaks, where "\r\n" first would split them.
  shown.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

QWidget* QtPrompter::Owner() const {
  // A message asked for while a modal dialog runs (the folder chooser's questions) belongs on
  // top of that dialog, not of the main window behind it.
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return parent_;
}

void QtPrompter::ShowMessage(const std::string& text) {
  RunBox(Owner(), QMessageBox::NoIcon, AppTitle(), text, QMessageBox::Ok);
}

void QtPrompter::ShowMessageBox(const std::string& text, const std::string& caption) {
  if (platform::SystemMessageBox(text, caption, platform::MessageButtons::Ok)) return;
  RunBox(Owner(), QMessageBox::NoIcon, Q(caption), text, QMessageBox::Ok);
}

void QtPrompter::Notice(const std::string& text) { ShowMessage(text); }

bool QtPrompter::AskYesNo(const std::string& text, const std::string& caption) {
  if (const auto yes = platform::SystemMessageBox(text, caption, platform::MessageButtons::YesNo))
    return *yes;
  return RunBox(Owner(), QMessageBox::NoIcon, Q(caption), text,
                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool QtPrompter::Confirm(const std::string& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), DisplayText(text),
                  QMessageBox::NoButton, Owner());
  QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  Prepare(box);
  box.exec();
  return box.clickedButton() != no;
}

bool QtPrompter::AskQuestion(const std::string& text) {
  QMessageBox box(QMessageBox::Question, AppTitle(), DisplayText(text), QMessageBox::Yes | QMessageBox::No, Owner());
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  Prepare(box);
  return box.exec() == QMessageBox::Yes;
}

void QtPrompter::ShowWarning(const std::string& text) {
  RunBox(Owner(), QMessageBox::Warning, AppTitle(), text, QMessageBox::Ok);
}

void QtPrompter::ShowError(const std::string& text) {
  RunBox(Owner(), QMessageBox::Critical, AppTitle(), text, QMessageBox::Ok);
}

std::optional<std::string> QtPrompter::AskOpenFile(const std::string& title,
                                                   const std::string& filter,
                                                   const std::string& initialFolder) {
  QFileDialog dialog(parent_, Q(title), Q(initialFolder), Q(filter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(dialog.selectedFiles().first()).toStdString();
}

bool QtPrompter::RunFolderChooser(SelectFolderDialog& chooser) { return chooser.Execute(); }

void QtPrompter::OpenFolder(const std::string& path) {
  const platform::NativeWindow owner = parent_ ? parent_->window()->winId() : 0;
  if (platform::ShellOpenFolder(path, owner)) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
}

}  // namespace kvelv
