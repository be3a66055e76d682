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

}  // namespace fw
