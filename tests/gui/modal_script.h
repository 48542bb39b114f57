// Answers the modal windows a test's action brings up. Each step waits for the
// next modal window of its type and acts on it; problems() then names every
// step left over and every modal window no step expected (those are rejected
// so that the run goes on). The progress window asks nothing: it is passed
// over unless the next step is for it.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>

#include "gui/progress_window.h"

namespace larkspool::gui::testing {

class ModalScript : public QObject {
 public:
  ModalScript() {
    connect(&timer_, &QTimer::timeout, this, &ModalScript::Poll);
    timer_.start(5);
    qApp->installEventFilter(this);
  }
  ~ModalScript() override { qApp->removeEventFilter(this); }

  // When the next modal window of type T appears, `action` answers it.
  template <class T>
  ModalScript& When(std::function<void(T&)> action) {
    steps_.push_back(Step{T::staticMetaObject.className(),
                          [action](QWidget& window) { action(static_cast<T&>(window)); }});
    return *this;
  }

  // Empty when every step ran and nothing else came up.
  QString problems() const {
    QStringList all = problems_;
    for (const Step& step : steps_) all << QStringLiteral("no %1 appeared").arg(QLatin1String(step.type));
    return all.join(QLatin1String("; "));
  }

 protected:
  // A window being shown is polled for at the next turn of any event loop:
  // for the progress window that is its own wait to be shown, before the walk.
  // A window hidden and shown again (the progress window, run after run)
  // comes up anew.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!watched->isWidgetType() || !static_cast<QWidget*>(watched)->isWindow()) return false;
    if (event->type() == QEvent::Show) {
      QTimer::singleShot(0, this, &ModalScript::Poll);
    } else if (event->type() == QEvent::Hide) {
      handled_.removeAll(static_cast<QWidget*>(watched));
    }
    return false;
  }

 private:
  struct Step {
    const char* type;
    std::function<void(QWidget&)> act;
  };

  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || polling_ || Handled(modal)) return;
    polling_ = true;
    if (!steps_.empty() && modal->inherits(steps_.front().type)) {
      const Step step = steps_.front();
      steps_.pop_front();
      handled_.append(modal);
      step.act(*modal);
      // A failed check returns early from the step: do not leave the run
      // waiting on a window nobody will answer.
      if (QTest::currentTestFailed()) Dismiss(modal);
    } else if (qobject_cast<CProgressDlg*>(modal) == nullptr) {
      handled_.append(modal);
      problems_ << QStringLiteral("unexpected %1 \"%2\"")
                       .arg(QLatin1String(modal->metaObject()->className()), Describe(*modal));
      Dismiss(modal);
    }
    polling_ = false;
  }

  bool Handled(QWidget* window) const {
    for (const QPointer<QWidget>& seen : handled_) {
      if (seen == window) return true;
    }
    return false;
  }

  static QString Describe(QWidget& window) {
    if (auto* box = qobject_cast<QMessageBox*>(&window)) return box->text();
    return window.windowTitle();
  }

  static void Dismiss(QWidget* window) {
    auto* dialog = qobject_cast<QDialog*>(window);
    if (dialog != nullptr && dialog->isVisible()) dialog->reject();
  }

  QTimer timer_;
  std::deque<Step> steps_;
  QList<QPointer<QWidget>> handled_;
  QStringList problems_;
  bool polling_ = false;
};

}  // namespace larkspool::gui::testing
