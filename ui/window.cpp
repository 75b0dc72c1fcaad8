// Building the widgets from the table and binding them to the controls model.
#include "ui/window.h"

#include "bus/port.h"
#include "ui/wrap_button.h"

#include <QCursor>
#include <QFrame>
#include <QMouseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>

#include <stdexcept>

namespace ui {
namespace {

QColor colour(Rgb c) { return QColor(c.r, c.g, c.b); }

// "MS Sans Serif" at the given size and weight, through the platform's sans-serif face.
QFont fontFor(const Look& look) {
    QFont font(kFallbackFace);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(look.points > 0 ? look.points : 8.0);
    font.setWeight(look.bold ? QFont::Bold : QFont::Normal);
    return font;
}

Qt::Alignment alignment(const Look& look) {
    return (look.align == Align::Center ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop;
}

double screenScale() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
    return dpi / 1440.0;
}

}  // namespace

Window::Window(const commands::Descriptor& descriptor, commands::Program& program, QWidget* parent)
    : QWidget(parent), descriptor_(descriptor), spec_(windowFor(descriptor)), program_(program), scale_(screenScale()) {
    setObjectName(QString::fromStdString(spec_.name));
    // A fixed-size window: no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    updateTitle();
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colour(spec_.back));
    setPalette(palette);
    setAutoFillBackground(true);
    setFixedSize(px(spec_.width), px(spec_.height));
    build();
    program_.setExitHandler([this] {
        if (exit_) {
            exit_();
        } else {
            close();
        }
    });
    program_.controls().setObserver(this);
}

Window::~Window() {
    program_.controls().setObserver(nullptr);
    program_.setExitHandler(nullptr);
}

int Window::px(int twips) const { return static_cast<int>(twips * scale_ + 0.5); }

QWidget* Window::widget(const std::string& name, int index) const {
    auto it = widgets_.find({name, index});
    return it == widgets_.end() ? nullptr : it->second;
}

void Window::showCentred() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
    }
    show();
}

void Window::build() {
    // Rectangles and labels first, so that they lie beneath everything else.
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& c : spec_.controls) {
            const bool beneath = c.kind == Kind::Rectangle || c.kind == Kind::Label;
            if (beneath == (pass == 0)) widgets_[{c.name, c.index}] = create(c);
        }
    }
}

QWidget* Window::create(const ControlSpec& c) {
    QWidget* w = nullptr;
    switch (c.kind) {
        case Kind::Rectangle: {
            auto* frame = new QFrame(this);
            frame->setFrameShape(QFrame::Box);
            frame->setFrameShadow(QFrame::Plain);
            frame->setAttribute(Qt::WA_TransparentForMouseEvents);
            w = frame;
            break;
        }
        case Kind::Label: {
            auto* label = new QLabel(QString::fromStdString(c.caption), this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(alignment(c.look));
            label->setWordWrap(c.look.wrap);
            QPalette palette = label->palette();
            palette.setColor(QPalette::Window, colour(c.look.back.value_or(spec_.back)));
            palette.setColor(QPalette::WindowText, colour(c.look.text.value_or(Rgb{0, 0, 0})));
            label->setPalette(palette);
            label->setAutoFillBackground(true);
            w = label;
            break;
        }
        case Kind::ScrollBar: {
            auto* bar = new QScrollBar(Qt::Vertical, this);
            bar->setRange(0, c.max);
            bar->setSingleStep(1);
            bar->setPageStep(1);
            bar->setTracking(false);  // a drag raises one Change, on release
            const auto id = controls::controlNamed(c.name, c.index);
            if (!id) throw std::logic_error("no model control for " + c.fullName());
            if (id->name == controls::Name::vsbBit) {
                bitBars_[static_cast<std::size_t>(id->index)] = bar;
            } else {
                single_[id->name] = bar;
            }
            // Named as pxctl names the same event: "code1=200", "bit:3=1".
            const std::string prefix = id->name == controls::Name::vsbBit
                                           ? "bit:" + std::to_string(id->index) + "="
                                           : (id->name == controls::Name::vsbInputCode2 ? "code2=" : "code1=");
            connect(bar, &QScrollBar::valueChanged, this, [this, bar, id = *id, prefix](int value) {
                if (awaitingDialog_) {
                    // The gesture that failed is over: what its queued events still
                    // move is put back, and nothing reaches the port.
                    const QSignalBlocker quiet(bar);
                    bar->setValue(program_.controls().scrollBar(id).Value());
                    return;
                }
                activeBar_ = bar;
                dispatch(prefix + std::to_string(value), [&] { program_.controls().scrollBar(id).setValue(value); });
                activeBar_ = nullptr;
            });
            w = bar;
            break;
        }
        case Kind::TextBox: {
            auto* edit = new QLineEdit(this);
            edit->setAlignment(c.look.align == Align::Center ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
            QPalette palette = edit->palette();
            if (c.look.text) palette.setColor(QPalette::Text, colour(*c.look.text));
            // The window-frame colour of the system these windows come from is black.
            if (c.look.windowFrameBack) palette.setColor(QPalette::Base, Qt::black);
            edit->setPalette(palette);
            const auto id = controls::controlNamed(c.name, c.index);
            if (!id) throw std::logic_error("no model control for " + c.fullName());
            if (id->name == controls::Name::txtBit) {
                bitBoxes_[static_cast<std::size_t>(id->index)] = edit;
            } else {
                single_[id->name] = edit;
            }
            // Typing changes only the box; the next write of the program shows again.
            connect(edit, &QLineEdit::textEdited, this,
                    [this, id = *id] { program_.controls().textBox(id).operatorEdited(); });
            w = edit;
            break;
        }
        case Kind::Button: {
            auto* button = new WrapButton(QString::fromStdString(c.caption), this);
            if (!c.toolTip.empty()) button->setToolTip(QString::fromStdString(c.toolTip));
            QPalette palette = button->palette();
            if (c.look.back) palette.setColor(QPalette::Button, colour(*c.look.back));
            button->setPalette(palette);
            button->setAutoDefault(false);
            const commands::Command* command = descriptor_.find(c.name);
            if (command == nullptr) throw std::logic_error("no command for button " + c.name);
            connect(button, &QPushButton::clicked, this, [this, run = command->run, name = c.name] {
                if (!awaitingDialog_) dispatch(name, [this, run] { run(program_); });
            });
            w = button;
            break;
        }
    }
    w->setObjectName(QString::fromStdString(c.fullName()));
    w->setFont(fontFor(c.look));
    const int left = px(c.left);
    const int top = px(c.top);
    w->setGeometry(left, top, px(c.left + c.width) - left, px(c.top + c.height) - top);
    if (c.hidden) w->setVisible(false);
    return w;
}

void Window::dispatch(std::string_view action, const std::function<void()>& run) {
    if (actionListener_) actionListener_(std::string(action));
    const std::uint64_t before = program_.portAccesses();
    try {
        run();
    } catch (const bus::PortError& e) {
        failed(action, QString::fromUtf8(e.what()));
        return;
    } catch (const std::exception& e) {
        failed(action, QStringLiteral("Internal error: ") + QString::fromUtf8(e.what()));
        return;
    }
    if (notSent_ && program_.portAccesses() != before) {
        notSent_ = false;
        updateTitle();
    }
    if (notices_) {
        if (const auto notice = notices_()) {
            if (notice_ == nullptr) {
                notice_ = new QMessageBox(QMessageBox::Warning, windowTitle(), QString(), QMessageBox::Ok, this);
                notice_->setObjectName(QStringLiteral("notice"));
            }
            notice_->setText(QString::fromStdString(*notice));
            QMetaObject::invokeMethod(notice_, &QMessageBox::show, Qt::QueuedConnection);
        }
    }
}

void Window::failed(std::string_view action, const QString& message) {
    // End the gesture now: a held arrow or page click would go on repeating
    // behind the dialog, and a modal dialog would swallow the release.
    // A release ends the press (its repeat timer included) or the drag.
    if (QScrollBar* bar = activeBar_) {
        const QPointF at = bar->mapFromGlobal(QCursor::pos());
        QMouseEvent release(QEvent::MouseButtonRelease, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(bar, &release);
    }
    errorText_ = message;
    errorAction_ = QString::fromUtf8(action.data(), static_cast<qsizetype>(action.size()));
    awaitingDialog_ = true;
    notSent_ = true;
    updateTitle();
    if (!errorQueued_) {
        errorQueued_ = true;
        QMetaObject::invokeMethod(this, &Window::showError, Qt::QueuedConnection);
    }
}

void Window::showError() {
    errorQueued_ = false;
    if (error_ == nullptr) {
        error_ = new QMessageBox(QMessageBox::Critical,
                                 QString::fromStdString(spec_.caption) + QStringLiteral(" \u2014 port error"), QString(),
                                 QMessageBox::Ok, this);
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

void Window::setPortLabel(const std::string& label) {
    portLabel_ = label;
    updateTitle();
}

void Window::updateTitle() {
    QString title = QString::fromStdString(spec_.caption);
    if (!portLabel_.empty()) title += QStringLiteral(" \u2014 ") + QString::fromStdString(portLabel_);
    if (notSent_) title += QStringLiteral(" \u2014 not sent");
    setWindowTitle(title);
}

QWidget* Window::singleWidget(controls::Name name) const {
    const auto it = single_.find(name);
    return it == single_.end() ? nullptr : it->second;
}

void Window::valueChanged(controls::ControlId id, int value) {
    QScrollBar* bar = id.name == controls::Name::vsbBit ? bitBars_[static_cast<std::size_t>(id.index)]
                                                        : static_cast<QScrollBar*>(singleWidget(id.name));
    if (bar == nullptr || bar->value() == value) return;
    const QSignalBlocker quiet(bar);  // a program's assignment is not an operator event
    bar->setValue(value);
}

void Window::textChanged(controls::ControlId id, std::string_view text) {
    QLineEdit* edit = id.name == controls::Name::txtBit ? bitBoxes_[static_cast<std::size_t>(id.index)]
                                                        : static_cast<QLineEdit*>(singleWidget(id.name));
    if (edit == nullptr) return;
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (edit->text() != shown) edit->setText(shown);
}

}  // namespace ui
