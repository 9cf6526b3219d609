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
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

int StepList::RowHeight() const { return fontMetrics().height() + 1; }

void StepList::SetRows(int track, int rowCount) {
    rowCount = std::max(rowCount, 0);
    const int before = m_rowCount;
    const bool otherTrack = track != m_track;
    m_track = track;
    m_rowCount = rowCount;
    if (m_selected >= m_rowCount) m_selected = m_anchor = -1;
    if (rowCount != before) UpdateScrollBar();
    if (otherTrack) {
        viewport()->update();
    } else if (rowCount != before) {
        UpdateRows(std::min(before, rowCount), std::max(before, rowCount) - 1);
    }
}

void StepList::RowsChanged(int first, int count) { UpdateRows(first, count < 0 ? m_rowCount - 1 : first + count - 1); }

void StepList::UpdateRows(int first, int last) {
    first = std::max(first, FirstVisibleRow());
    last = std::min(last, FirstVisibleRow() + VisibleRowCount() - 1);
    if (first <= last) viewport()->update(RowRect(first).united(RowRect(last)));
}

int StepList::VisibleRowCount() const { return viewport()->height() / RowHeight() + 1; }

QString StepList::RowText(int row) const {
    const SongStep* step = StepAt(m_track, row);
    return row < m_rowCount && step ? StepCaption(*step) : QString();
}

void StepList::SelectRow(int row, int anchor) {
    if (row < 0 || row >= m_rowCount) row = -1;
    anchor = row < 0 ? -1 : std::clamp(anchor, 0, m_rowCount - 1);
    if (row != m_selected || anchor != m_anchor) {
        UpdateRows(std::min(m_selected, m_anchor), std::max(m_selected, m_anchor));
        UpdateRows(std::min(row, anchor), std::max(row, anchor));
        m_selected = row;
        m_anchor = anchor;
    }
    if (row >= 0) EnsureVisible(row);
}

int StepList::FirstVisibleRow() const { return verticalScrollBar()->value(); }

QRect StepList::RowRect(int row) const {
    return {0, (row - FirstVisibleRow()) * RowHeight(), viewport()->width(), RowHeight()};
}

int StepList::RowAt(int y) const {
    const int row = FirstVisibleRow() + y / RowHeight();
    return y >= 0 && row < m_rowCount ? row : -1;
}

void StepList::UpdateScrollBar() {
    // Scrolled by whole rows: the bar's value is the first row in view.
    const int fullRows = std::max(1, viewport()->height() / RowHeight());
    verticalScrollBar()->setRange(0, std::max(0, m_rowCount - fullRows));
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
    const int low = std::min(m_selected, m_anchor), high = std::max(m_selected, m_anchor);
    for (int i = 0; i < count && first + i < m_rowCount; ++i) {
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
    m_extending = (event->modifiers() & Qt::ShiftModifier) && m_anchor >= 0;
    if (row >= 0) SelectRow(row, m_extending ? m_anchor : row);
    setFocus(Qt::MouseFocusReason);
}

void StepList::mouseReleaseEvent(QMouseEvent*) { emit released(m_extending); }

void StepList::keyPressEvent(QKeyEvent* event) {
    // Plain keys move the selection only (the cursor follows a mouse release); with Shift they
    // extend it, and the cursor follows.
    const int pageRows = std::max(1, viewport()->height() / RowHeight());
    int row = m_selected;
    switch (event->key()) {
    case Qt::Key_Up: row = std::max(0, row - 1); break;
    case Qt::Key_Down: row = std::min(m_rowCount - 1, row + 1); break;
    case Qt::Key_PageUp: row = std::max(0, row - pageRows); break;
    case Qt::Key_PageDown: row = std::min(m_rowCount - 1, row + pageRows); break;
    case Qt::Key_Home: row = 0; break;
    case Qt::Key_End: row = m_rowCount - 1; break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    if (m_rowCount == 0) return;
    const bool extend = (event->modifiers() & Qt::ShiftModifier) && m_anchor >= 0;
    SelectRow(row, extend ? m_anchor : row);
    if (extend) emit extended();
}

void StepList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBar();
}

}  // namespace kivra
