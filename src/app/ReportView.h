#pragma once

#include "app/TextTableModel.h"

#include <QTreeView>

#include <functional>
#include <vector>

class QAbstractProxyModel;

namespace mrvn {

// A cell as it may go into a file or the clipboard for a spreadsheet: one that starts with
// "=", "+", "-", "@", a tab or a carriage return would be taken for a formula there, and gets
// a leading "'" (shown by the spreadsheet as text). A plain number ("-2", "-0.5") in a
// numeric column stays a number.
QString SpreadsheetSafeCell(const QString& text, bool numericColumn);

struct ReportColumn
{
    QString header;
    int width = 0; // 0: hidden
};

// A report-style list view: a header row, one selectable row per entry, texts only.
//
// Model() holds the rows in the order they were filled ("model rows"). A view may put a
// sorting and filtering proxy in between (SetProxy); then the operator sees the rows in
// another order, some perhaps hidden. Every row number this class takes or returns is a view
// row: row 0 is the top row on screen, RowCount() counts the rows shown, Cell(row, column)
// reads the row the operator sees there, and Selection() and SelectedRows() name rows the same
// way. Without a proxy view rows and model rows are the same. ModelRow() and ViewRow()
// translate.
class ReportView : public QTreeView
{
    Q_OBJECT
public:
    ReportView(const QString& objectName, const std::vector<ReportColumn>& columns,
               QWidget* parent = nullptr);

    TextTableModel& Model() { return *m_model; }
    const TextTableModel& Model() const { return *m_model; }
    // Puts `proxy` (whose source is Model()) between the model and the view and lets a click
    // on a column header sort by it, a second click reversing the order. Until a header is
    // clicked the rows keep the model's order.
    void SetProxy(QAbstractProxyModel* proxy);
    QAbstractProxyModel* Proxy() const { return m_proxy; }

    void DeleteAll() { m_model->Clear(); }
    // Rows shown.
    int RowCount() const;
    // Insert into the model at model row `row` (or at the end) and return the new row's view
    // row, -1 when the proxy hides it.
    int InsertRow(int row) { return ViewRow(m_model->InsertRow(row)); }
    int AppendRow() { return ViewRow(m_model->AppendRow()); }
    void SetCell(int row, int column, const QString& text);
    QString Cell(int row, int column) const;
    // -1 when out of range (or hidden, for ViewRow).
    int ModelRow(int viewRow) const;
    int ViewRow(int modelRow) const;

    // The selected row, -1 when none; with several selected, the current one (the row last
    // clicked) or else the topmost.
    int Selection() const;
    // Every selected row, top to bottom.
    std::vector<int> SelectedRows() const;
    void SetSelection(int row);
    // Selects `rows` and makes `current` the current row (-1: the first of `rows`).
    void SetSelectedRows(const std::vector<int>& rows, int current = -1);
    void ScrollIntoView(int row);

    // Lets Ctrl+C copy the selected rows with a header line instead of the current cell.
    void SetRowCopy(bool on) { m_rowCopy = on; }
    // Tells which columns hold numbers: a negative number there is copied and exported as it
    // is (see SpreadsheetSafeCell). No column does until this is called.
    void SetNumericColumns(std::function<bool(int column)> numeric)
    {
        m_numericColumn = std::move(numeric);
    }
    // Puts the selected rows on the clipboard (see RowsAsTabText); nothing when none is.
    void CopySelectedRows() const;
    // The header line and the given rows, every column (hidden ones too), cells separated by
    // tabs, each line ended by "\n"; a tab or line break inside a cell becomes a space. Cells
    // go through SpreadsheetSafeCell first.
    QString RowsAsTabText(const std::vector<int>& rows) const;
    // The same as CSV (RFC 4180): UTF-8 with a byte-order mark, lines ended by CR LF, a cell
    // holding a quote, a comma or a line break quoted with its quotes doubled, after
    // SpreadsheetSafeCell.
    QByteArray RowsAsCsv(const std::vector<int>& rows) const;
    // A model cell made safe for a spreadsheet.
    QString SafeCell(int modelRow, int column) const;

    // Where a menu opened from the keyboard appears: at the current row, or at the top of the
    // list when there is none.
    QPoint KeyboardMenuPosition() const;

    // A bar shown at the bottom of the list (the view takes it over): while it is visible the
    // rows end above it, so it covers neither a row nor a scroll bar.
    void SetFooter(QWidget* footer, int height);

    // Column `fit` is as wide as its longest text and column `fill` takes the rest of the
    // view's width, at least as much as its own longest text needs: no text of either is
    // cut (the list scrolls sideways when the view is too narrow for both).
    void SetColumnGrowth(int fit, int fill);

signals:
    // A right click on the list (the row under the cursor is selected first).
    void RightClicked(const QPoint& globalPos);
    // The menu key or Shift+F10 while the list has the focus.
    void KeyboardMenuRequested(const QPoint& globalPos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void updateGeometries() override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QModelIndex ViewIndex(int row, int column = 0) const;
    QStringList Headers() const;
    void ApplyColumnWidths();
    void PlaceFooter();
    void GrowColumns();
    // The width the column needs for its header and every cell's text.
    int ContentWidth(int column) const;

    TextTableModel* m_model;
    std::vector<int> m_widths;
    QAbstractProxyModel* m_proxy = nullptr;
    bool m_rowCopy = false;
    std::function<bool(int column)> m_numericColumn;
    QWidget* m_footer = nullptr;
    int m_footerHeight = 0;
    int m_fitColumn = -1;
    int m_fillColumn = -1;
};

} // namespace mrvn
