#pragma once
// The login dialog: a password edit, "Logg inn" and "Avbryt". No behaviour of its own; the
// login check lives in AskPassword.
#include <QDialog>

class QLabel;
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
  // The 201 x 70 client area that holds the controls.
  QWidget* ClientArea() const { return client_; }
  // The caption bar the dialog draws itself where the window manager would add buttons and a
  // window menu to a bare title bar (everywhere but Windows); null where the system draws it.
  QLabel* CaptionBar() const { return caption_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* client_;
  QLabel* caption_ = nullptr;
  QLineEdit* txtPassword_;
  QPushButton* OKBtn_;
  QPushButton* CancelBtn_;
};

}  // namespace kvelv
