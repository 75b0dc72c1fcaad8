// Building the window from its table and binding its widgets to the controls
// model and the program's commands.
#include "ui/qt/window.h"

#include "ui/qt/icon.h"

#include "view/accessible.h"
#include "view/window_text.h"
#include "ui/qt/port_dialogs.h"
#include "ui/qt/widgets.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace ui {
namespace {

double screenScale() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
    return dpi / 1440.0;
}

}  // namespace

Window::Window(const commands::Descriptor& descriptor, commands::Program& program, QWidget* parent)
    : QWidget(parent),
      descriptor_(descriptor),
      spec_(windowFor(descriptor)),
      program_(program),
      index_(descriptor, spec_),
      scale_(screenScale()),
      dialogs_(new PortDialogs(*this, QString::fromStdString(spec_.caption))) {
    setObjectName(QString::fromStdString(spec_.name));
    // A fixed-size window: no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(spec_.back.r, spec_.back.g, spec_.back.b));
    setPalette(palette);
    setAutoFillBackground(true);
    setFixedSize(px(spec_.width), px(spec_.height));
    setWindowIcon(programIcon());
    build();
    // Ctrl+Q, as desktop programs close: Exit's own click, so that it acts
    // exactly as the button does.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quit->setObjectName(QStringLiteral("quitShortcut"));
    connect(quit, &QShortcut::activated, this, [this] { clickExit(); });
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

int Window::px(int twips) const { return toPixels(twips, scale_); }

QWidget* Window::widget(const std::string& name, int index) const {
    const ControlSpec* c = spec_.find(name, index);
    return c == nullptr ? nullptr : rows_[static_cast<std::size_t>(c - spec_.controls.data())];
}

void Window::showCentred() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
    }
    show();
}

void Window::clickExit() {
    const view::ControlRef exit = view::exitButton(spec_);
    if (auto* button = qobject_cast<QPushButton*>(widget(exit.name, exit.index))) button->click();
}

// The close box and the system's Close act as E&xit's click; a close the
// program asks for (Exit's own, without an exit action) closes.
void Window::closeEvent(QCloseEvent* event) {
    if (!event->spontaneous()) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    clickExit();
}

void Window::build() {
    // A widget made later lies over those made before: the bottom of the stack first.
    const std::vector<std::size_t> order = view::stackingOrder(spec_);
    rows_.assign(spec_.controls.size(), nullptr);
    for (auto row = order.rbegin(); row != order.rend(); ++row) {
        const ControlSpec& c = spec_.controls[*row];
        QWidget* w = makeWidget(c, view::resolvedLook(spec_, c), *this, scale_);
        rows_[*row] = w;
        const AccessibleText text = accessibleText(descriptor_, c);
        if (!text.name.empty()) {
            w->setAccessibleName(QString::fromStdString(text.name));
            w->setAccessibleDescription(QString::fromStdString(text.description));
        }
    }
    for (std::size_t row = 0; row < spec_.controls.size(); ++row) bind(row);
    // Each label is tied to the control it describes, as a screen reader reads it.
    for (const auto& c : spec_.controls) {
        if (c.kind != Kind::Label || c.describes.empty()) continue;
        QWidget* target = widget(c.describes, c.describesIndex);
        if (target == nullptr) throw std::logic_error(c.fullName() + " describes no control of this window");
        static_cast<QLabel*>(widget(c.name, c.index))->setBuddy(target);
    }
    orderTabs();
}

void Window::orderTabs() {
    std::vector<QWidget*> chain;
    for (const view::ControlRef& c : view::tabOrder(spec_)) {
        if (QWidget* w = widget(c.name, c.index)) chain.push_back(w);
    }
    for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
    chain.front()->setFocus();  // where the keyboard starts when the window opens
}

void Window::bind(std::size_t row) {
    const ControlSpec& c = spec_.controls[row];
    QWidget* w = rows_[row];
    const view::ControlBinding& binding = index_.binding(row);
    if (c.kind == Kind::Button) {
        // The dialog names the button as the operator sees it: "Mid Scale", "Run".
        connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this,
                [this, command = binding.command, shown = binding.shown] {
                    if (dialogs_->accepting()) {
                        dispatch(command->word, shown, [this, command] { command->run(program_); });
                    }
                });
        return;
    }
    if (!binding.model) return;
    const controls::ControlId id = *binding.model;
    if (c.kind == Kind::ScrollBar) {
        bindScrollBar(static_cast<QScrollBar*>(w), binding);
    } else {
        // Typing changes only the box; the next write of the program shows again.
        connect(static_cast<QLineEdit*>(w), &QLineEdit::textEdited, this,
                [this, id] { program_.controls().textBox(id).operatorEdited(); });
    }
}

void Window::bindScrollBar(QScrollBar* bar, const view::ControlBinding& binding) {
    connect(bar, &QScrollBar::valueChanged, this, [this, bar, binding](int value) {
        const controls::ControlId id = *binding.model;
        if (!dialogs_->accepting()) {
            // The gesture that failed is over: what its queued events still
            // move is put back, and nothing reaches the port.
            const QSignalBlocker quiet(bar);
            bar->setValue(program_.controls().scrollBar(id).Value());
            return;
        }
        activeBar_ = bar;
        // Named as pxctl names the same event in the trace, and by the control in the dialog.
        const view::ChangeNames names = view::changeNames(binding, value);
        dispatch(names.label, names.shown, [&] { program_.controls().scrollBar(id).setValue(value); });
        activeBar_ = nullptr;
    });
}

void Window::dispatch(std::string_view label, std::string_view shown, const std::function<void()>& run) {
    view::dispatch(program_, sources_, *this, label, shown, run);
}

void Window::failed(std::string_view shown, const std::string& message, const commands::Delivery& delivery) {
    dialogs_->failed(shown, message, delivery);
}

void Window::reached() { dialogs_->reached(); }

void Window::notice(const std::string& text) { dialogs_->notice(text); }

// A failure ends the gesture now: a held arrow or page click would go on
// repeating behind the dialog, and a modal dialog would swallow the release.
// A release ends the press (its repeat timer included) or the drag.
void Window::endGesture() {
    QScrollBar* bar = activeBar_;
    if (bar == nullptr) return;
    const QPointF at = bar->mapFromGlobal(QCursor::pos());
    QMouseEvent release(QEvent::MouseButtonRelease, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(bar, &release);
}

void Window::setPortLabel(const std::string& label) { dialogs_->setPortLabel(label); }

void Window::setChooser(std::function<void()> choose) { dialogs_->setChooser(std::move(choose)); }

QWidget* Window::modelWidget(controls::ControlId id) const {
    const auto row = index_.rowOf(id);
    return row ? rows_[*row] : nullptr;
}

void Window::valueChanged(controls::ControlId id, int value) {
    auto* bar = static_cast<QScrollBar*>(modelWidget(id));
    if (bar == nullptr || bar->value() == value) return;
    const QSignalBlocker quiet(bar);  // a program's assignment is not an operator event
    bar->setValue(value);
}

void Window::textChanged(controls::ControlId id, std::string_view text) {
    auto* edit = static_cast<QLineEdit*>(modelWidget(id));
    if (edit == nullptr) return;
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (edit->text() != shown) edit->setText(shown);
}

}  // namespace ui
