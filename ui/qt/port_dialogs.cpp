#include "ui/qt/port_dialogs.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace ui {

PortDialogs::PortDialogs(QWidget& window, QString caption)
    : QObject(&window), window_(window), state_(caption.toStdString()) {
    updateTitle();
}

void PortDialogs::failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery) {
    const bool queue = state_.failed(shown, message, delivery);
    updateTitle();
    if (queue) QMetaObject::invokeMethod(this, &PortDialogs::showError, Qt::QueuedConnection);
}

void PortDialogs::reached() {
    if (state_.reached()) updateTitle();
}

void PortDialogs::notice(const std::string& text) {
    if (notice_ == nullptr) {
        notice_ = new QMessageBox(QMessageBox::Warning, window_.windowTitle(), QString(), QMessageBox::Ok, &window_);
        notice_->setObjectName(QStringLiteral("notice"));
    }
    notice_->setText(QString::fromStdString(text));
    QMetaObject::invokeMethod(notice_, &QMessageBox::show, Qt::QueuedConnection);
}

void PortDialogs::showError() {
    const view::WindowState::FailureDialog dialog = state_.showFailure();
    if (error_ == nullptr) {
        error_ = new QMessageBox(QMessageBox::Critical, QString::fromStdString(dialog.title), QString(),
                                 QMessageBox::Ok, &window_);
        error_->setObjectName(QStringLiteral("portError"));
        error_->setWindowModality(Qt::WindowModal);
        if (choose_) {
            QPushButton* choose = error_->addButton(QStringLiteral("&Choose the port\u2026"), QMessageBox::ActionRole);
            choose->setObjectName(QStringLiteral("cmdChoosePort"));
            connect(choose, &QPushButton::clicked, this, [this] { QMetaObject::invokeMethod(this, [this] { choose_(); }, Qt::QueuedConnection); });
        }
        connect(error_, &QDialog::finished, this, [this] { state_.failureClosed(); });
    }
    // A second failure while the dialog is up replaces its text.
    error_->setText(QString::fromStdString(dialog.message));
    error_->setInformativeText(QString::fromStdString(dialog.sent));
    if (!error_->isVisible()) error_->open();
}

void PortDialogs::setPortLabel(const std::string& label) {
    state_.setPortLabel(label);
    updateTitle();
}

void PortDialogs::updateTitle() { window_.setWindowTitle(QString::fromStdString(state_.title())); }

}  // namespace ui
