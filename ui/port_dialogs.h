// The window's reports about its port: one queued dialog for a failed action
// (shown after the event that failed has returned, never from inside a scroll
// bar's signal), a warning for a notice, and the title's port label and mark.
#pragma once

#include <QObject>
#include <QString>

#include "commands/program.h"

#include <string>

class QMessageBox;
class QWidget;

namespace ui {

class PortDialogs final : public QObject {
public:
    // caption: the window's caption, which titles the dialogs.
    PortDialogs(QWidget& window, QString caption);

    // A failed action and what of it reached the port: the title gets its mark
    // ("not sent", "read-back failed", "cut short"), the dialog is queued (a
    // second failure before it shows replaces its text), and the window refuses
    // the gesture's further events until the dialog is closed.
    void failed(const QString& action, const QString& message, const commands::Delivery& delivery);
    bool awaitingDialog() const { return awaitingDialog_; }

    // An action completed on the port: the mark goes.
    void reached();

    // A problem that is not a port failure, shown once as a warning.
    void notice(const std::string& text);

    void setPortLabel(const std::string& label);

private:
    void showError();
    void updateTitle();

    QWidget& window_;
    QString caption_;
    QMessageBox* error_ = nullptr;
    QMessageBox* notice_ = nullptr;
    QString errorText_;
    QString errorSent_;  // the dialog's second paragraph
    bool errorQueued_ = false;
    bool awaitingDialog_ = false;  // from a failure until its dialog is closed
    QString mark_;                 // in the title until an action completes
    std::string portLabel_;
};

}  // namespace ui
