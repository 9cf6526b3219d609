#pragma once
// One on-screen piano key: a check box drawn as a push button. It paints its own face from its
// back colour and checked state, so a lit key shows exactly the colour set whatever the style,
// and it repaints only when the colour, the checked state or the caption changes.
// The key never toggles itself: only the note routing lights and clears it.

#include <QAbstractButton>
#include <QColor>

namespace kivra {

class PianoKey : public QAbstractButton {
    Q_OBJECT
public:
    PianoKey(int note, QWidget* parent = nullptr);

    int Note() const { return note_; }
    bool IsBlack() const { return black_; }
    QColor BackColour() const { return back_; }
    QColor PlainColour() const;  // white or black, the colour of a released key

    // Colour and pressed look together, as the note routing sets them.
    void SetLook(const QColor& back, bool pressed);

signals:
    // `y` is the pointer's vertical position within the key in pixels (negative above it).
    void mouseDown(int note, Qt::MouseButton button, int y);
    void mouseMoved(int note, Qt::MouseButtons buttons, int y);
    void mouseUp(int note, Qt::MouseButton button, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The second press of a double click already came as a press; the double click adds nothing.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // A keystroke on a focused key plays nothing and does not toggle it.
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void nextCheckState() override {}

private:
    int note_;
    bool black_;
    QColor back_;
};

}  // namespace kivra
