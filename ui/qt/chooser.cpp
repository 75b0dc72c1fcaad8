#include "ui/qt/chooser.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace ui {

ChooserDialog::ChooserDialog(view::ChooserServices services, QWidget* parent)
    : QDialog(parent), model_(std::move(services)) {
    const view::ChooserSpec& spec = view::chooserSpec();
    setObjectName(QStringLiteral("frmChoosePort"));
    setWindowTitle(QString::fromStdString(spec.caption));
    setFixedSize(spec.width, spec.height);
    QLabel* listLabel = nullptr;
    for (const view::ChooserControl& c : spec.controls) {
        QWidget* widget = nullptr;
        switch (c.kind) {
            case view::ChooserControl::Kind::List:
                widget = list_ = new QListWidget(this);
                break;
            case view::ChooserControl::Kind::Text: {
                auto* label = new QLabel(QString::fromStdString(c.caption), this);
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setTextInteractionFlags(Qt::TextSelectableByMouse);
                if (c.name == "lblDetail") detail_ = label;
                if (c.name == "lblStatus") status_ = label;
                if (c.name == "lblPorts") listLabel = label;
                widget = label;
                break;
            }
            case view::ChooserControl::Kind::Button: {
                auto* button = new QPushButton(QString::fromStdString(c.caption), this);
                button->setAutoDefault(false);
                if (c.name == "cmdTest") {
                    test_ = button;
                    connect(button, &QPushButton::clicked, this, [this] {
                        model_.test();
                        update();
                    });
                } else if (c.name == "cmdUse") {
                    use_ = button;
                    connect(button, &QPushButton::clicked, this, [this] {
                        model_.use();
                        update();
                        if (model_.chosen()) accept();
                    });
                } else if (c.name == "cmdRefresh") {
                    connect(button, &QPushButton::clicked, this, [this] {
                        model_.refresh();
                        fill();
                    });
                } else {
                    connect(button, &QPushButton::clicked, this, &QDialog::reject);
                }
                widget = button;
                break;
            }
        }
        widget->setObjectName(QString::fromStdString(c.name));
        widget->setGeometry(c.left, c.top, c.width, c.height);
        if (!c.toolTip.empty()) {
            widget->setToolTip(QString::fromStdString(c.toolTip));
            widget->setAccessibleDescription(QString::fromStdString(c.toolTip));
        }
    }
    if (listLabel != nullptr) {
        listLabel->setTextInteractionFlags(Qt::NoTextInteraction);
        listLabel->setBuddy(list_);  // Alt+P
        list_->setAccessibleName(QStringLiteral("Ports this computer offers"));
    }
    detail_->setAccessibleName(QStringLiteral("The selected port"));
    status_->setAccessibleName(QStringLiteral("Result"));
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        model_.select(row);
        update();
    });
    // Enter or a double click on a port chooses it, as Use this port does.
    connect(list_, &QListWidget::itemActivated, use_, &QPushButton::click);
    fill();
    list_->setFocus();
}

void ChooserDialog::fill() {
    const QSignalBlocker quiet(list_);
    list_->clear();
    for (const std::string& row : model_.rows()) list_->addItem(QString::fromStdString(row));
    list_->setCurrentRow(model_.selected());
    update();
}

void ChooserDialog::update() {
    detail_->setText(QString::fromStdString(model_.detail()));
    status_->setText(QString::fromStdString(model_.status()));
    test_->setEnabled(model_.canTest());
    use_->setEnabled(model_.canUse());
}

}  // namespace ui
