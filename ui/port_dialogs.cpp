#include "ui/port_dialogs.h"

#include "view/window_text.h"

#include <QMessageBox>
#include <QWidget>

namespace ui {

PortDialogs::PortDialogs(QWidget& window, QString caption) : QObject(&window), window_(window), caption_(std::move(caption)) {
    updateTitle();
}

void PortDialogs::failed(const QString& action, const QString& message, const commands::Delivery& delivery) {
    errorText_ = message;
    errorSent_ = QString::fromStdString(view::failureText(action.toStdString(), delivery));
    awaitingDialog_ = true;
    mark_ = QString::fromUtf8(commands::mark(delivery).data(), static_cast<qsizetype>(commands::mark(delivery).size()));
    updateTitle();
    if (!errorQueued_) {
        errorQueued_ = true;
        QMetaObject::invokeMethod(this, &PortDialogs::showError, Qt::QueuedConnection);
    }
}

void PortDialogs::reached() {
    if (mark_.isEmpty()) return;
    mark_.clear();
    updateTitle();
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
    errorQueued_ = false;
    if (error_ == nullptr) {
        error_ = new QMessageBox(QMessageBox::Critical, QString::fromStdString(view::failureTitle(caption_.toStdString())),
                                 QString(), QMessageBox::Ok, &window_);
        error_->setObjectName(QStringLiteral("portError"));
        error_->setWindowModality(Qt::WindowModal);
        connect(error_, &QDialog::finished, this, [this] { awaitingDialog_ = false; });
    }
    // A second failure while the dialog is up replaces its text.
    error_->setText(errorText_);
    error_->setInformativeText(errorSent_);
    if (!error_->isVisible()) error_->open();
}

void PortDialogs::setPortLabel(const std::string& label) {
    portLabel_ = label;
    updateTitle();
}

void PortDialogs::updateTitle() {
    window_.setWindowTitle(
        QString::fromStdString(view::windowTitle(caption_.toStdString(), portLabel_, mark_.toStdString())));
}

}  // namespace ui
