// Work other threads hand to the main thread. The work itself travels through a queue guarded by
// standard locks; Qt only wakes the main thread up, by method name, carrying nothing of ours.
#pragma once

#include <QObject>

namespace fw {

class MainThreadQueue final : public QObject {
  Q_OBJECT
 public:
  static MainThreadQueue& Instance();
  Q_INVOKABLE void Drain();
};

// The display is gone and the main thread will serve no more: every thread waiting for it, or asking it
// later, gets MainThreadGone, and work posted to it never runs. The job the main thread runs now is given
// up too, so the main thread must never go back to it. Final.
void AbandonMainThread();
bool MainThreadAbandoned();

}  // namespace fw
