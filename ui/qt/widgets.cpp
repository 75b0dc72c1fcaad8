// One widget per kind of row.
#include "ui/qt/widgets.h"

#include "ui/qt/wrap_button.h"

#include <QFrame>
#include <QPainter>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

namespace ui {
namespace {

QColor colour(Rgb c) { return QColor(c.r, c.g, c.b); }

// A control of kind Base that shows its focus with paintFocusFrame.
template <typename Base>
class FocusFramed final : public Base {
public:
    using Base::Base;

protected:
    void paintEvent(QPaintEvent* event) override {
        Base::paintEvent(event);
        if (this->hasFocus()) paintFocusFrame(*this);
    }
};

QWidget* rectangle(QWidget& parent) {
    auto* frame = new QFrame(&parent);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Plain);
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    return frame;
}

QWidget* label(const ControlSpec& c, const ResolvedLook& look, QWidget& parent) {
    auto* label = new QLabel(QString::fromStdString(c.caption), &parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment((look.align == Align::Center ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
    label->setWordWrap(look.wrap);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour(*look.back));
    palette.setColor(QPalette::WindowText, colour(look.text));
    label->setPalette(palette);
    label->setAutoFillBackground(true);
    return label;
}

// Scroll bars take the focus by click or by Tab and move with the keys (arrows
// a step, Page Up/Down the large change, Home/End the ends), each move one
// Change as a click's is.
QWidget* scrollBar(const ControlSpec& c, QWidget& parent) {
    auto* bar = new FocusFramed<QScrollBar>(Qt::Vertical, &parent);
    bar->setRange(0, c.max);
    bar->setSingleStep(c.smallChange);
    bar->setPageStep(c.largeChange);
    bar->setTracking(false);  // a drag raises one Change, on release
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

// Nothing reads the text boxes: they take typing when clicked, but Tab passes them by.
QWidget* textBox(const ResolvedLook& look, QWidget& parent) {
    auto* edit = new FocusFramed<QLineEdit>(&parent);
    edit->setFocusPolicy(Qt::ClickFocus);
    edit->setAlignment(look.align == Align::Center ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, colour(look.text));
    palette.setColor(QPalette::Base, colour(*look.back));
    edit->setPalette(palette);
    return edit;
}

QWidget* button(const ControlSpec& c, const ResolvedLook& look, QWidget& parent) {
    auto* button = new WrapButton(QString::fromStdString(c.caption), &parent);
    if (!c.toolTip.empty()) button->setToolTip(QString::fromStdString(c.toolTip));
    QPalette palette = button->palette();
    if (look.back) palette.setColor(QPalette::Button, colour(*look.back));
    palette.setColor(QPalette::ButtonText, colour(look.text));
    button->setPalette(palette);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

QFont fontFor(const ResolvedLook& look) {
    QFont font(kFallbackFace);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(look.points);
    font.setWeight(look.bold ? QFont::Bold : QFont::Normal);
    return font;
}

void paintFocusFrame(QWidget& widget) {
    QPainter painter(&widget);
    painter.setPen(QPen(widget.palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(widget.rect()).adjusted(1, 1, -1, -1));
}

QWidget* makeWidget(const ControlSpec& c, const ResolvedLook& look, QWidget& parent, double scale) {
    QWidget* w = nullptr;
    switch (c.kind) {
        case Kind::Rectangle: w = rectangle(parent); break;
        case Kind::Label: w = label(c, look, parent); break;
        case Kind::ScrollBar: w = scrollBar(c, parent); break;
        case Kind::TextBox: w = textBox(look, parent); break;
        case Kind::Button: w = button(c, look, parent); break;
    }
    w->setObjectName(QString::fromStdString(c.fullName()));
    w->setFont(fontFor(look));
    const view::PixelRect r = view::toPixels(c, scale);
    w->setGeometry(r.left, r.top, r.width, r.height);
    if (c.hidden) w->setVisible(false);
    return w;
}

}  // namespace ui
