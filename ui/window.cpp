// Building the window from its table and binding its widgets to the controls
// model and the program's commands.
#include "ui/window.h"

#include "ui/icon.h"

#include "view/accessible.h"
#include "view/window_text.h"
#include "ui/port_dialogs.h"
#include "ui/widgets.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
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
    connect(quit, &QShortcut::activated, this, [this] {
        if (auto* exit = findChild<QPushButton*>(QStringLiteral("cmdExit"))) exit->click();
    });
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
            if (beneath != (pass == 0)) continue;
            QWidget* w = makeWidget(c, *this, spec_.back, scale_);
            widgets_[{c.name, c.index}] = w;
            const AccessibleText text = accessibleText(descriptor_, c);
            if (!text.name.empty()) {
                w->setAccessibleName(QString::fromStdString(text.name));
                w->setAccessibleDescription(QString::fromStdString(text.description));
            }
            bind(c, w);
        }
    }
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

void Window::bind(const ControlSpec& c, QWidget* w) {
    const view::ControlBinding binding = view::bindingFor(descriptor_, c);
    if (c.kind == Kind::Button) {
        // The dialog names the button as the operator sees it: "Mid Scale", "Run".
        connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this,
                [this, command = binding.command, shown = binding.shown] {
                    if (!dialogs_->awaitingDialog()) {
                        dispatch(command->word, shown, [this, command] { command->run(program_); });
                    }
                });
        return;
    }
    if (!binding.model) return;
    const controls::ControlId id = *binding.model;
    const bool array = id.name == controls::Name::vsbBit || id.name == controls::Name::txtBit;
    if (c.kind == Kind::ScrollBar) {
        auto* bar = static_cast<QScrollBar*>(w);
        if (array) bitBars_[static_cast<std::size_t>(id.index)] = bar;
        bindScrollBar(bar, binding);
    } else {
        auto* edit = static_cast<QLineEdit*>(w);
        if (array) bitBoxes_[static_cast<std::size_t>(id.index)] = edit;
        // Typing changes only the box; the next write of the program shows again.
        connect(edit, &QLineEdit::textEdited, this, [this, id] { program_.controls().textBox(id).operatorEdited(); });
    }
    if (!array) single_[id.name] = w;
}

void Window::bindScrollBar(QScrollBar* bar, const view::ControlBinding& binding) {
    connect(bar, &QScrollBar::valueChanged, this, [this, bar, binding](int value) {
        const controls::ControlId id = *binding.model;
        if (dialogs_->awaitingDialog()) {
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
    dialogs_->failed(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())),
                     QString::fromStdString(message), delivery);
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
