#include "ui/FocusCues.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace kvelv {

namespace {

class FocusCues final : public QObject {
 public:
  explicit FocusCues(QWidget* window) : QObject(window) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched == parent())
      static_cast<QWidget*>(watched)->setAttribute(Qt::WA_KeyboardFocusChange);
    return false;
  }
};

}  // namespace

void ShowFocusFromTheStart(QWidget* window) { window->installEventFilter(new FocusCues(window)); }

}  // namespace kvelv
