#include "musicmaker/steplist.h"

#include "musicmaker/songops.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace kivra {

StepList::StepList(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("No track"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

int StepList::RowHeight() const { return fontMetrics().height() + 1; }

void StepList::SetRows(int track, int rowCount) {
    rowCount = std::max(rowCount, 0);
    const int before = rowCount_;
    const bool otherTrack = track != track_;
    track_ = track;
    rowCount_ = rowCount;
    // What a screen reader calls the list: the track it shows.
    setAccessibleName(track >= 0 ? tr("Steps of track %1").arg(track + 1) : tr("No track"));
    if (selected_ >= rowCount_) selected_ = anchor_ = -1;
    if (rowCount != before) UpdateScrollBar();
    if (otherTrack) {
        viewport()->update();
    } else if (rowCount != before) {
        UpdateRows(std::min(before, rowCount), std::max(before, rowCount) - 1);
    }
}

void StepList::RowsChanged(int first, int count) { UpdateRows(first, count < 0 ? rowCount_ - 1 : first + count - 1); }

void StepList::UpdateRows(int first, int last) {
    first = std::max(first, FirstVisibleRow());
    last = std::min(last, FirstVisibleRow() + VisibleRowCount() - 1);
    if (first <= last) viewport()->update(RowRect(first).united(RowRect(last)));
}

int StepList::VisibleRowCount() const { return viewport()->height() / RowHeight() + 1; }

QString StepList::RowText(int row) const {
    const SongStep* step = StepAt(track_, row);
    return row < rowCount_ && step ? StepCaption(*step) : QString();
}

void StepList::SelectRow(int row, int anchor) {
    if (row < 0 || row >= rowCount_) row = -1;
    anchor = row < 0 ? -1 : std::clamp(anchor, 0, rowCount_ - 1);
    if (row != selected_ || anchor != anchor_) {
        UpdateRows(std::min(selected_, anchor_), std::max(selected_, anchor_));
        UpdateRows(std::min(row, anchor), std::max(row, anchor));
        selected_ = row;
        anchor_ = anchor;
    }
    if (row >= 0) EnsureVisible(row);
}

int StepList::FirstVisibleRow() const { return verticalScrollBar()->value(); }

QRect StepList::RowRect(int row) const {
    return {0, (row - FirstVisibleRow()) * RowHeight(), viewport()->width(), RowHeight()};
}

int StepList::RowAt(int y) const {
    const int row = FirstVisibleRow() + y / RowHeight();
    return y >= 0 && row < rowCount_ ? row : -1;
}

void StepList::UpdateScrollBar() {
    // Scrolled by whole rows: the bar's value is the first row in view.
    const int fullRows = std::max(1, viewport()->height() / RowHeight());
    verticalScrollBar()->setRange(0, std::max(0, rowCount_ - fullRows));
    verticalScrollBar()->setPageStep(fullRows);
    verticalScrollBar()->setSingleStep(1);
}

void StepList::EnsureVisible(int row) {
    const int fullRows = std::max(1, viewport()->height() / RowHeight());
    const int first = FirstVisibleRow();
    if (row < first) {
        verticalScrollBar()->setValue(row);
    } else if (row >= first + fullRows) {
        verticalScrollBar()->setValue(row - fullRows + 1);
    }
}

void StepList::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int first = FirstVisibleRow();
    const int count = VisibleRowCount();
    const QPalette& pal = palette();
    const int low = std::min(selected_, anchor_), high = std::max(selected_, anchor_);
    for (int i = 0; i < count && first + i < rowCount_; ++i) {
        const int row = first + i;
        const QString text = RowText(row);
        const QRect rect = RowRect(row);
        const bool selected = row >= low && row <= high && low >= 0;
        if (selected) painter.fillRect(rect, pal.brush(QPalette::Highlight));
        painter.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
    }
}

void StepList::scrollContentsBy(int, int dy) {
    // Rows already drawn move by blitting; only the rows coming into view are painted.
    viewport()->scroll(0, dy * RowHeight());
}

void StepList::mousePressEvent(QMouseEvent* event) {
    // Any button selects the row under the pointer; a press below the last row keeps the selection.
    // With Shift the selection grows from the anchor.
    const int row = RowAt(event->position().toPoint().y());
    extending_ = (event->modifiers() & Qt::ShiftModifier) && anchor_ >= 0;
    if (row >= 0) SelectRow(row, extending_ ? anchor_ : row);
    setFocus(Qt::MouseFocusReason);
}

void StepList::mouseReleaseEvent(QMouseEvent*) { emit released(extending_); }

void StepList::keyPressEvent(QKeyEvent* event) {
    // Plain keys move the selection only (the cursor follows a mouse release); with Shift they
    // extend it, and the cursor follows.
    const int pageRows = std::max(1, viewport()->height() / RowHeight());
    int row = selected_;
    switch (event->key()) {
    case Qt::Key_Up: row = std::max(0, row - 1); break;
    case Qt::Key_Down: row = std::min(rowCount_ - 1, row + 1); break;
    case Qt::Key_PageUp: row = std::max(0, row - pageRows); break;
    case Qt::Key_PageDown: row = std::min(rowCount_ - 1, row + pageRows); break;
    case Qt::Key_Home: row = 0; break;
    case Qt::Key_End: row = rowCount_ - 1; break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    if (rowCount_ == 0) return;
    const bool extend = (event->modifiers() & Qt::ShiftModifier) && anchor_ >= 0;
    SelectRow(row, extend ? anchor_ : row);
    if (extend) emit extended();
}

void StepList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBar();
}

}  // namespace kivra
