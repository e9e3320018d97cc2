#include "app/ReportView.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace mrvn {

ReportView::ReportView(const QString& objectName, const std::vector<ReportColumn>& columns,
                       QWidget* parent)
    : QTreeView(parent)
{
    setObjectName(objectName);
    QStringList headers;
    for (const ReportColumn& column : columns)
        headers << column.header;
    m_model = new TextTableModel(headers, this);
    setModel(m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideNone);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setMinimumSectionSize(0);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const int width = columns[static_cast<std::size_t>(i)].width;
        setColumnWidth(i, width);
        if (width == 0)
            setColumnHidden(i, true);
    }
}

void ReportView::SetCell(int row, int column, const QString& text)
{
    m_model->SetCell(row, column, text.toStdString());
}

QString ReportView::Cell(int row, int column) const
{
    return QString::fromStdString(m_model->Cell(row, column));
}

int ReportView::Selection() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ReportView::SetSelection(int row)
{
    if (row < 0 || row >= RowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    selectionModel()->select(m_model->index(row, 0),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::NoUpdate);
}

void ReportView::ScrollIntoView(int row)
{
    if (row >= 0 && row < RowCount())
        scrollTo(m_model->index(row, 0));
}

void ReportView::mousePressEvent(QMouseEvent* event)
{
    QTreeView::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        emit RightClicked(event->globalPosition().toPoint());
}

} // namespace mrvn
