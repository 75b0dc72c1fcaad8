#include "ui/port_dialogs.h"

#include <QMessageBox>
#include <QWidget>

namespace ui {

PortDialogs::PortDialogs(QWidget& window, QString caption) : QObject(&window), window_(window), caption_(std::move(caption)) {
    updateTitle();
}

void PortDialogs::failed(const QString& action, const QString& message) {
    errorText_ = message;
    errorAction_ = action;
    awaitingDialog_ = true;
    notSent_ = true;
    updateTitle();
    if (!errorQueued_) {
        errorQueued_ = true;
        QMetaObject::invokeMethod(this, &PortDialogs::showError, Qt::QueuedConnection);
    }
}

void PortDialogs::reached() {
    if (!notSent_) return;
    notSent_ = false;
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
        error_ = new QMessageBox(QMessageBox::Critical, caption_ + QStringLiteral(" \u2014 port error"), QString(),
                                 QMessageBox::Ok, &window_);
        error_->setObjectName(QStringLiteral("portError"));
        error_->setWindowModality(Qt::WindowModal);
        connect(error_, &QDialog::finished, this, [this] { awaitingDialog_ = false; });
    }
    // A second failure while the dialog is up replaces its text.
    error_->setText(errorText_);
    error_->setInformativeText(QStringLiteral("%1 stopped at the failing port access: its frame was not sent. "
                                              "The next action tries the port again.")
                                   .arg(errorAction_));
    if (!error_->isVisible()) error_->open();
}

void PortDialogs::setPortLabel(const std::string& label) {
    portLabel_ = label;
    updateTitle();
}

void PortDialogs::updateTitle() {
    QString title = caption_;
    if (!portLabel_.empty()) title += QStringLiteral(" \u2014 ") + QString::fromStdString(portLabel_);
    if (notSent_) title += QStringLiteral(" \u2014 not sent");
    window_.setWindowTitle(title);
}

}  // namespace ui
