#include "ui/PasswordDlg.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace kvelv {

PasswordDlg::PasswordDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      txtPassword_(new QLineEdit(this)),
      OKBtn_(new QPushButton(QStringLiteral("Logg inn"), this)),
      CancelBtn_(new QPushButton(QStringLiteral("Avbryt"), this)) {
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QStringLiteral(" Orv Kvelv: Oppgi passord"));
  setFixedSize(201, 70);

  txtPassword_->setObjectName(QStringLiteral("txtPassword"));
  txtPassword_->setGeometry(25, 8, 156, 21);
  txtPassword_->setEchoMode(QLineEdit::Password);

  OKBtn_->setObjectName(QStringLiteral("OKBtn"));
  OKBtn_->setGeometry(25, 35, 75, 25);
  OKBtn_->setDefault(true);
  connect(OKBtn_, &QPushButton::clicked, this, &QDialog::accept);

  // QDialog already rejects on Escape, which makes this the cancel button.
  CancelBtn_->setObjectName(QStringLiteral("CancelBtn"));
  CancelBtn_->setGeometry(106, 35, 75, 25);
  CancelBtn_->setAutoDefault(false);
  connect(CancelBtn_, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(txtPassword_, OKBtn_);
  setTabOrder(OKBtn_, CancelBtn_);
  txtPassword_->setFocus();
}

void PasswordDlg::showEvent(QShowEvent* event) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
}

}  // namespace kvelv
