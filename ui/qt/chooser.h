// The port chooser's Qt view: the controls of view::chooserSpec(), what
// view::PortChooser decides shown, and the operator's events forwarded to it.
#pragma once

#include "view/chooser.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QPushButton;

namespace ui {

class ChooserDialog final : public QDialog {
public:
    ChooserDialog(view::ChooserServices services, QWidget* parent = nullptr);

    // The port saved, once Use this port has saved one.
    const std::optional<std::string>& chosen() const { return model_.chosen(); }

private:
    void fill();
    void update();

    view::PortChooser model_;
    QListWidget* list_ = nullptr;
    QLabel* detail_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* test_ = nullptr;
    QPushButton* use_ = nullptr;
};

}  // namespace ui
