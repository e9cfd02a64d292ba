#pragma once
// The login dialog: a password edit, "Logg inn" and "Avbryt". No behaviour of its own; the
// login check lives in AskPassword.
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace kvelv {

class PasswordDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit PasswordDlg(QWidget* parent = nullptr);

  QLineEdit* txtPassword() const { return txtPassword_; }
  QPushButton* OKBtn() const { return OKBtn_; }
  QPushButton* CancelBtn() const { return CancelBtn_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* txtPassword_;
  QPushButton* OKBtn_;
  QPushButton* CancelBtn_;
};

}  // namespace kvelv
