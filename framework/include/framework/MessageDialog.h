// A message with up to three buttons, shown modally.
#pragma once

#include <string>

#include "framework/Object.h"

namespace fw {

class Window;

class MessageDialog final : public Object {
 public:
  enum class Button { Action, Alternate, Cancel };

  std::string Message;
  std::string Explanation;
  std::string ActionCaption = "OK";
  bool AlternateVisible = false;
  std::string AlternateCaption;
  bool CancelVisible = false;
  std::string CancelCaption = "Cancel";

  // Waits until the user presses a button; carried to the main thread when called elsewhere.
  Button ShowModal();
  Button ShowModalWithin(Window* parent);
};

}  // namespace fw
