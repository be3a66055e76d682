#include "framework/Throttle.h"

#include <QCoreApplication>
#include <QTimer>

#include "framework/Runtime.h"

namespace fw {

void Throttle::Ask(const Ref<Object>& keep) {
  {
    std::lock_guard lock(mutex_);
    if (scheduled_) {
      again_ = true;
      return;
    }
    scheduled_ = true;
  }
  PostToMainThread([this, keep] { Show(keep); });
}

void Throttle::Show(const Ref<Object>& keep) {
  Guarded([&] { show_(); });
  QTimer::singleShot(interval_, QCoreApplication::instance(), [this, keep] {
    {
      std::lock_guard lock(mutex_);
      scheduled_ = std::exchange(again_, false);
      if (!scheduled_) return;
    }
    Show(keep);
  });
}

}  // namespace fw
