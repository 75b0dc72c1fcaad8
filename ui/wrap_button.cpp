#include "ui/wrap_button.h"

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
}

}  // namespace ui
