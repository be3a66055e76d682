#include "framework/MessageDialog.h"

#include <QMessageBox>
#include <QPushButton>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "framework/Runtime.h"
#include "framework/Window.h"
#include "src/WindowKeeper.h"

namespace fw {
namespace {

// The answer a box gives back, also to a thread that waits for it.
struct Answer {
  std::mutex mutex;
  std::condition_variable given;
  bool done = false;
  MessageDialog::Button button = MessageDialog::Button::Action;

  void Give(MessageDialog::Button b) {
    {
      std::lock_guard lock(mutex);
      if (done) return;
      done = true;
      button = b;
    }
    given.notify_all();
  }
  MessageDialog::Button Wait() {
    std::unique_lock lock(mutex);
    given.wait(lock, [this] { return done; });
    return button;
  }
};

// The answers threads wait for, each with what it means to close its box unanswered.
std::mutex gWaitingMutex;
std::vector<std::pair<std::weak_ptr<Answer>, MessageDialog::Button>>& gWaiting =
    *new std::vector<std::pair<std::weak_ptr<Answer>, MessageDialog::Button>>;

}  // namespace

void AnswerMessagesWithoutDisplay() {
  std::vector<std::pair<std::weak_ptr<Answer>, MessageDialog::Button>> waiting;
  {
    std::lock_guard lock(gWaitingMutex);
    waiting.swap(gWaiting);
  }
  for (const auto& [answer, unanswered] : waiting)
    if (std::shared_ptr<Answer> a = answer.lock()) a->Give(unanswered);
}

MessageDialog::Button MessageDialog::ShowModal() { return ShowModalWithin(nullptr); }

MessageDialog::Button MessageDialog::ShowModalWithin(Window* parent) {
  // A box closed without a button (Escape, or its window closing) counts as Cancel when there is one.
  const Button unanswered = CancelVisible ? Button::Cancel : Button::Action;
  auto answer = std::make_shared<Answer>();
  // Called from another thread, the box is shown without a nested event loop: the main thread goes on
  // serving every window, and only the caller waits.
  const bool waitHere = !IsMainThread();
  RunOnMainThread([&] {
    if (parent && !parent->IsOpen()) {  // nobody left to tell
      answer->Give(unanswered);
      return;
    }
    auto* box = new QMessageBox(DialogOwner(parent));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setWindowTitle(QStringLiteral("Speckmoor"));
    box->setText(QString::fromStdString(Message));
    box->setInformativeText(QString::fromStdString(Explanation));
    QPushButton* action = box->addButton(QString::fromStdString(ActionCaption), QMessageBox::AcceptRole);
    QPushButton* alternate =
        AlternateVisible ? box->addButton(QString::fromStdString(AlternateCaption), QMessageBox::ActionRole) : nullptr;
    QPushButton* cancel =
        CancelVisible ? box->addButton(QString::fromStdString(CancelCaption), QMessageBox::RejectRole) : nullptr;
    box->setDefaultButton(action);
    QObject::connect(box, &QMessageBox::finished, box, [=] {
      QAbstractButton* clicked = box->clickedButton();
      if (clicked && clicked == action) answer->Give(Button::Action);
      else if (clicked && clicked == alternate) answer->Give(Button::Alternate);
      else if (clicked && clicked == cancel) answer->Give(Button::Cancel);
      else answer->Give(unanswered);
    });
    QObject::connect(box, &QObject::destroyed, [=] { answer->Give(unanswered); });
    if (waitHere) {
      {
        std::lock_guard lock(gWaitingMutex);
        std::erase_if(gWaiting, [](const auto& w) { return w.first.expired(); });
        gWaiting.emplace_back(answer, unanswered);
      }
      box->open();
    } else {
      ModalScope scope;
      box->exec();
    }
  });
  return answer->Wait();
}

}  // namespace fw
