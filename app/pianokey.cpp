#include "app/pianokey.h"

#include "app/keylayout.h"
#include "midi/midiio.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace kivra {
namespace {

int PixelY(const QMouseEvent* event) { return static_cast<int>(std::floor(event->position().y())); }

// The classic two-pixel button bevel: outer and inner edge colours for the light and dark sides.
void DrawBevel(QPainter& p, const QRect& r, bool sunken) {
    const QColor highlight(255, 255, 255), light(223, 223, 223), shadow(128, 128, 128), dark(0, 0, 0);
    const QColor outerTL = sunken ? dark : highlight;
    const QColor innerTL = sunken ? shadow : light;
    const QColor outerBR = sunken ? highlight : dark;
    const QColor innerBR = sunken ? light : shadow;
    const int l = r.left(), t = r.top(), rr = r.right(), b = r.bottom();
    p.setPen(outerTL);
    p.drawLine(l, t, rr - 1, t);
    p.drawLine(l, t, l, b - 1);
    p.setPen(outerBR);
    p.drawLine(l, b, rr, b);
    p.drawLine(rr, t, rr, b);
    p.setPen(innerTL);
    p.drawLine(l + 1, t + 1, rr - 2, t + 1);
    p.drawLine(l + 1, t + 1, l + 1, b - 2);
    p.setPen(innerBR);
    p.drawLine(l + 1, b - 1, rr - 1, b - 1);
    p.drawLine(rr - 1, t + 1, rr - 1, b - 1);
}

}  // namespace

PianoKey::PianoKey(int note, QWidget* parent)
    : QAbstractButton(parent), note_(note), black_(IsBlackKeyNote(note)), back_(PlainColour()) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 0.8);
    setFont(f);
    setAccessibleName(tr("%1, key").arg(QString::fromStdString(NoteName(note))));
}

QColor PianoKey::PlainColour() const { return black_ ? QColor(0, 0, 0) : QColor(255, 255, 255); }

void PianoKey::SetLook(const QColor& back, bool pressed) {
    if (back != back_) {
        back_ = back;
        update();
    }
    setChecked(pressed);  // repaints only on a change
}

void PianoKey::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, back_);
    DrawBevel(p, r, isChecked());
    if (hasFocus()) {  // where the keyboard is, for those who play without a mouse
        p.setPen(QPen(black_ ? QColor(255, 255, 255) : QColor(0, 0, 0), 1, Qt::DotLine));
        p.drawRect(r.adjusted(3, 3, -4, -4));
    }
    const QString caption = text();
    if (caption.isEmpty()) return;
    // Not the palette's text colour: a dark theme would put white captions on white keys.
    p.setPen(black_ ? QColor(255, 255, 255) : QColor(0, 0, 0));
    // The caption keeps its leading line breaks and sits at the bottom, like a graphical button's.
    QString shown = caption;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const int shift = isChecked() ? 1 : 0;
    p.drawText(r.adjusted(2 + shift, 2 + shift, -2 + shift, -3 + shift), Qt::AlignHCenter | Qt::AlignBottom, shown);
}

void PianoKey::mousePressEvent(QMouseEvent* event) {
    event->accept();
    emit mouseDown(note_, event->button(), PixelY(event));
}

void PianoKey::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    emit mouseMoved(note_, event->buttons(), PixelY(event));
}

void PianoKey::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    emit mouseUp(note_, event->button(), PixelY(event));
}

void PianoKey::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void PianoKey::keyPressEvent(QKeyEvent* event) { event->ignore(); }
void PianoKey::keyReleaseEvent(QKeyEvent* event) { event->ignore(); }

}  // namespace kivra
