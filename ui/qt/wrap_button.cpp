#include "ui/qt/wrap_button.h"

#include "ui/qt/widgets.h"

#include <QKeyEvent>

#include <QStyleOptionButton>
#include <QStylePainter>

namespace ui {

QRect WrapButton::captionRect() const { return rect().adjusted(2, 1, -2, -1); }

void WrapButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(captionRect(), kTextFlags, text());
    painter.end();
    if (hasFocus()) paintFocusFrame(*this);
}

void WrapButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

}  // namespace ui
