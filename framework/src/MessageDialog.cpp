#include "framework/MessageDialog.h"

#include <QMessageBox>
#include <QPushButton>

#include "framework/Runtime.h"
#include "framework/Window.h"

namespace fw {

MessageDialog::Button MessageDialog::ShowModal() { return ShowModalWithin(nullptr); }

MessageDialog::Button MessageDialog::ShowModalWithin(Window* parent) {
  Button pressed = Button::Cancel;
  RunOnMainThread([&] {
    QMessageBox box(parent ? parent->Widget() : nullptr);
    box.setWindowTitle(QStringLiteral("Speckmoor"));
    box.setText(QString::fromStdString(Message));
    box.setInformativeText(QString::fromStdString(Explanation));
    QPushButton* action = box.addButton(QString::fromStdString(ActionCaption), QMessageBox::AcceptRole);
    QPushButton* alternate =
        AlternateVisible ? box.addButton(QString::fromStdString(AlternateCaption), QMessageBox::ActionRole) : nullptr;
    QPushButton* cancel =
        CancelVisible ? box.addButton(QString::fromStdString(CancelCaption), QMessageBox::RejectRole) : nullptr;
    box.setDefaultButton(action);
    box.exec();
    if (box.clickedButton() == action) pressed = Button::Action;
    else if (alternate && box.clickedButton() == alternate) pressed = Button::Alternate;
    else if (cancel && box.clickedButton() == cancel) pressed = Button::Cancel;
    else pressed = CancelVisible ? Button::Cancel : Button::Action;  // closed with Escape
  });
  return pressed;
}

}  // namespace fw
