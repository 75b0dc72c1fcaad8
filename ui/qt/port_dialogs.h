// The window's reports about its port, as view::WindowState decides them: the
// failure dialog, queued so that it shows after the event that failed has
// returned (never from inside a scroll bar's signal), a warning for a notice,
// and the title.
#pragma once

#include <QObject>
#include <QString>

#include "commands/program.h"
#include "view/window_state.h"

#include <functional>
#include <string>
#include <string_view>

class QMessageBox;
class QWidget;

namespace ui {

class PortDialogs final : public QObject {
public:
    // caption: the window's caption, which titles the dialogs.
    PortDialogs(QWidget& window, QString caption);

    void failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery);
    bool accepting() const { return state_.accepting(); }

    // An action completed on the port: the mark goes.
    void reached();

    // A problem that is not a port failure, shown once as a warning.
    void notice(const std::string& text);

    void setPortLabel(const std::string& label);

    // What the failure dialog's "Choose the port…" button does; none, no button.
    void setChooser(std::function<void()> choose) { choose_ = std::move(choose); }

private:
    void showError();
    void updateTitle();

    QWidget& window_;
    view::WindowState state_;
    QMessageBox* error_ = nullptr;
    QMessageBox* notice_ = nullptr;
    std::function<void()> choose_;
};

}  // namespace ui
