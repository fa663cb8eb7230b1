// Modal windows in a test: a step runs once the window is up and always
// ends it, so no test can wait on one.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace torvane::test {

// Runs `act` on the modal `Dialog` the next step opens, then ends it if it
// is still up. Gives up after about a second, ending any other modal
// dialog that is up then.
template <class Dialog>
void on_modal(std::function<void(Dialog&)> act, int tries = 100) {
  QTimer::singleShot(10, [act, tries] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = qobject_cast<Dialog*>(modal);
    if (dialog == nullptr) {
      if (tries > 0) return on_modal<Dialog>(act, tries - 1);
      if (auto* other = qobject_cast<QDialog*>(modal)) other->done(0);
      return;
    }
    QPointer<Dialog> alive(dialog);
    act(*dialog);
    if (!alive.isNull() && alive->isVisible()) alive->done(0);
  });
}

}  // namespace torvane::test
