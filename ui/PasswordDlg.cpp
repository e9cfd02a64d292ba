#include "ui/PasswordDlg.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "ui/FocusCues.h"

namespace kvelv {

namespace {

constexpr int kClientWidth = 201;
constexpr int kClientHeight = 70;
constexpr int kBorder = 2;
constexpr int kCaptionIndent = 4;
const char* const kCaption = " Orv Kvelv: Oppgi passord";

// Only Windows honours a title bar without buttons; X11 window managers such as openbox keep
// their minimise, maximise and close buttons and the window menu whatever the hints say.
bool SystemDrawsBareTitleBar() { return QGuiApplication::platformName() == QLatin1String("windows"); }

Qt::WindowFlags DialogFlags() {
  if (SystemDrawsBareTitleBar()) return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  return Qt::Dialog | Qt::FramelessWindowHint;
}

}  // namespace

PasswordDlg::PasswordDlg(QWidget* parent)
    : QDialog(parent, DialogFlags()),
      client_(new QWidget(this)),
      txtPassword_(new QLineEdit(client_)),
      OKBtn_(new QPushButton(QStringLiteral("Logg inn"), client_)),
      CancelBtn_(new QPushButton(QStringLiteral("Avbryt"), client_)) {
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QString::fromUtf8(kCaption));
  client_->setObjectName(QStringLiteral("ClientArea"));

  if (SystemDrawsBareTitleBar()) {
    client_->setGeometry(0, 0, kClientWidth, kClientHeight);
    setFixedSize(kClientWidth, kClientHeight);
  } else {
    caption_ = new QLabel(windowTitle(), this);
    caption_->setObjectName(QStringLiteral("CaptionBar"));
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    caption_->setFont(font);
    caption_->setIndent(kCaptionIndent);
    caption_->setAutoFillBackground(true);
    QPalette colours = caption_->palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::WindowText, colours.color(QPalette::Active, QPalette::HighlightedText));
    caption_->setPalette(colours);
    caption_->installEventFilter(this);
    // The caption is shown whole: a caption wider than the client area widens the window.
    const int width = std::max(kClientWidth, caption_->sizeHint().width() + kCaptionIndent);
    const int captionHeight = caption_->sizeHint().height() + 6;
    caption_->setGeometry(kBorder, kBorder, width, captionHeight);
    client_->setGeometry(kBorder + (width - kClientWidth) / 2, kBorder + captionHeight, kClientWidth,
                         kClientHeight);
    setFixedSize(width + 2 * kBorder, captionHeight + kClientHeight + 2 * kBorder);
  }

  txtPassword_->setObjectName(QStringLiteral("txtPassword"));
  txtPassword_->setGeometry(25, 8, 156, 21);
  txtPassword_->setEchoMode(QLineEdit::Password);
  // Each typed character shows as "*", not as the style's dot.
  txtPassword_->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));

  OKBtn_->setObjectName(QStringLiteral("OKBtn"));
  OKBtn_->setGeometry(25, 35, 75, 25);
  OKBtn_->setDefault(true);
  connect(OKBtn_, &QPushButton::clicked, this, &QDialog::accept);

  // QDialog already rejects on Escape, which makes this the cancel button; as an auto-default
  // button it takes Enter while it has the focus.
  CancelBtn_->setObjectName(QStringLiteral("CancelBtn"));
  CancelBtn_->setGeometry(106, 35, 75, 25);
  connect(CancelBtn_, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(txtPassword_, OKBtn_);
  setTabOrder(OKBtn_, CancelBtn_);
  txtPassword_->setFocus();
  ShowFocusFromTheStart(this);
}

void PasswordDlg::showEvent(QShowEvent* event) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  QDialog::showEvent(event);
}

void PasswordDlg::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (!caption_) return;
  // The dialog border that the window manager no longer draws.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Dark));
  for (int i = 0; i < kBorder; ++i) painter.drawRect(rect().adjusted(i, i, -1 - i, -1 - i));
}

bool PasswordDlg::eventFilter(QObject* watched, QEvent* event) {
  // Dragging the caption moves the window, through the window manager.
  if (watched == caption_ && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && windowHandle()) {
    windowHandle()->startSystemMove();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace kvelv
