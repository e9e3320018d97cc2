#pragma once

#include "app/TextTableModel.h"

#include <QTreeView>

#include <vector>

namespace mrvn {

struct ReportColumn
{
    QString header;
    int width = 0; // 0: hidden
};

// A report-style list view: a header row, one selectable row per entry, texts only.
class ReportView : public QTreeView
{
    Q_OBJECT
public:
    ReportView(const QString& objectName, const std::vector<ReportColumn>& columns,
               QWidget* parent = nullptr);

    TextTableModel& Model() { return *m_model; }
    const TextTableModel& Model() const { return *m_model; }

    void DeleteAll() { m_model->Clear(); }
    int RowCount() const { return m_model->RowCount(); }
    int InsertRow(int row) { return m_model->InsertRow(row); }
    int AppendRow() { return m_model->AppendRow(); }
    void SetCell(int row, int column, const QString& text);
    QString Cell(int row, int column) const;
    // The selected row, -1 when none.
    int Selection() const;
    void SetSelection(int row);
    void ScrollIntoView(int row);

signals:
    // A right click on the list (the row under the cursor is selected first).
    void RightClicked(const QPoint& globalPos);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    TextTableModel* m_model;
};

} // namespace mrvn
