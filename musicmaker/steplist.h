#pragma once
// A list of a track's steps that draws only the rows in view. It holds no row texts: each row is
// read from the song when painted, so a long song costs nothing to show, and the window tells it
// which rows changed, so an edit repaints those rows alone, whatever the song's length.
//
// One row is the list's selected row (the cursor row); shift-click and shift+arrows extend the
// selection from the anchor row to it.

#include <QAbstractScrollArea>

namespace kivra {

class StepList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit StepList(QWidget* parent = nullptr);

    // Shows `rowCount` steps of song track `track` (-1: an empty list).
    void SetRows(int track, int rowCount);
    // Rows from `first` changed (count -1: every row from there on).
    void RowsChanged(int first, int count);
    int Track() const { return track_; }
    int RowCount() const { return rowCount_; }
    QString RowText(int row) const;
    // -1 for no selected row. Selecting scrolls the row into view.
    int SelectedRow() const { return selected_; }
    int AnchorRow() const { return anchor_; }
    void SelectRow(int row, int anchor);
    void SelectRow(int row) { SelectRow(row, row); }
    int RowHeight() const;
    int FirstVisibleRow() const;
    QRect RowRect(int row) const;  // in viewport coordinates

signals:
    // A mouse button was released over the list (the cursor follows the selected row);
    // `extend`: the press held Shift, so the selection grew from the anchor.
    void released(bool extend);
    // Shift+arrows moved the selected row, keeping the anchor.
    void extended();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    int VisibleRowCount() const;
    void UpdateScrollBar();
    void EnsureVisible(int row);
    int RowAt(int y) const;
    void UpdateRows(int first, int last);  // repaints the rows of that range that are in view

    int track_ = -1;
    int rowCount_ = 0;
    int selected_ = -1;
    int anchor_ = -1;
    bool extending_ = false;
};

}  // namespace kivra
