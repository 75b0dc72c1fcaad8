// A command button whose caption wraps onto more lines when it does not fit on
// one, as the presets' "Zero Scale" must on a 41-pixel face. Enter presses it
// as Space does, and its focus shows plainly.
#pragma once

#include <QPushButton>

namespace ui {

class WrapButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

    // The caption's box inside the face, shared with the layout checks.
    QRect captionRect() const;
    static constexpr int kTextFlags = Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace ui
