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
    const bool otherTrack = track != m_track;
    const bool resized = rowCount != m_rowCount;
    m_track = track;
    m_rowCount = rowCount;
    if (m_selected >= m_rowCount) m_selected = -1;
    if (resized) UpdateScrollBar();
    if (otherTrack) {
        viewport()->update();
    } else {
        RepaintChangedRows();
    }
}

int StepList::VisibleRowCount() const { return viewport()->height() / RowHeight() + 1; }

void StepList::RepaintChangedRows() {
    const int first = FirstVisibleRow();
    const int count = VisibleRowCount();
    if (first != m_paintedFirst || static_cast<int>(m_painted.size()) != count) {
        viewport()->update();
        return;
    }
    for (int i = 0; i < count; ++i) {
        const int row = first + i;
        const std::optional<QString> text =
            row < m_rowCount ? std::optional<QString>(RowText(row)) : std::nullopt;
        if (text != m_painted[static_cast<std::size_t>(i)]) viewport()->update(RowRect(row));
    }
}

QString StepList::RowText(int row) const {
    const SongStep* step = StepAt(m_track, row);
    return row < m_rowCount && step ? StepCaption(*step) : QString();
}

void StepList::SelectRow(int row) {
    if (row < 0 || row >= m_rowCount) row = -1;
    if (row != m_selected) {
        if (m_selected >= 0) viewport()->update(RowRect(m_selected));
        if (row >= 0) viewport()->update(RowRect(row));
        m_selected = row;
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
    m_paintedFirst = first;
    m_painted.assign(static_cast<std::size_t>(count), std::nullopt);
    for (int i = 0; i < count && first + i < m_rowCount; ++i) {
        const int row = first + i;
        const QString text = RowText(row);
        m_painted[static_cast<std::size_t>(i)] = text;
        const QRect rect = RowRect(row);
        const bool selected = row == m_selected;
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
    const int row = RowAt(event->position().toPoint().y());
    if (row >= 0) SelectRow(row);
    setFocus(Qt::MouseFocusReason);
}

void StepList::mouseReleaseEvent(QMouseEvent*) { emit released(); }

void StepList::keyPressEvent(QKeyEvent* event) {
    // The keyboard moves the selection only; the cursor follows a mouse release alone.
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
    if (m_rowCount > 0) SelectRow(row);
}

void StepList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBar();
}

}  // namespace kivra
