#pragma once
// A single-selection list of a track's steps that draws only the rows in view. It holds no row
// texts: each row is read from the song when painted, so a long song costs nothing to show and
// an edit costs one repaint, whatever the song's length.

#include <QAbstractScrollArea>

#include <optional>
#include <vector>

namespace kivra {

class StepList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit StepList(QWidget* parent = nullptr);

    // Shows `rowCount` steps of song track `track` (-1: an empty list).
    void SetRows(int track, int rowCount);
    int Track() const { return m_track; }
    int RowCount() const { return m_rowCount; }
    QString RowText(int row) const;
    // -1 for no selected row. Selecting scrolls the row into view.
    int SelectedRow() const { return m_selected; }
    void SelectRow(int row);
    int RowHeight() const;
    // Rows fully or partly in view: first and count.
    int FirstVisibleRow() const;
    QRect RowRect(int row) const;  // in viewport coordinates

signals:
    // A mouse button was released over the list (the cursor follows the selected row).
    void released();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // Repaints the rows in view whose text differs from what was last painted.
    void RepaintChangedRows();
    int VisibleRowCount() const;
    void UpdateScrollBar();
    void EnsureVisible(int row);
    int RowAt(int y) const;

    int m_track = -1;
    int m_rowCount = 0;
    int m_selected = -1;
    // The rows in view as last painted, from row m_paintedFirst; empty where there was no row.
    std::vector<std::optional<QString>> m_painted;
    int m_paintedFirst = -1;
};

}  // namespace kivra
