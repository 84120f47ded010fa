#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <utility>

namespace kavoni::testing {

// Answers the modal dialogs that a press opens, in order, as a user would. Each step runs once
// the next modal widget is up. A modal that turns up with no step left is rejected and
// counted, so a surprise box fails the test instead of hanging it.
class ModalDriver {
 public:
  using Step = std::function<void(QWidget* modal)>;

  ModalDriver() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  void Then(Step step) { steps_.push_back(std::move(step)); }

  int unexpected_modals() const { return unexpected_; }
  bool all_steps_ran() const { return steps_.empty(); }

 private:
  void Poll() {
    if (handled_ != nullptr && !handled_->isVisible()) {
      handled_ = nullptr;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || modal == handled_) {
      return;
    }
    if (steps_.empty()) {
      ++unexpected_;
      if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      } else {
        modal->close();
      }
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step(modal);
    // A step that leaves its modal open must not be handed the same showing twice; a reused
    // dialog shown again later is a new showing.
    handled_ = modal->isVisible() ? modal : nullptr;
  }

  QTimer timer_;
  std::deque<Step> steps_;
  QPointer<QWidget> handled_;
  int unexpected_ = 0;
};

}  // namespace kavoni::testing
