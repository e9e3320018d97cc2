#include "app/ReportView.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace mrvn {

namespace {

bool IsPlainNumber(const QString& text)
{
    qsizetype i = text.startsWith(u'-') ? 1 : 0;
    const qsizetype digitsFrom = i;
    while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 0x80)
        ++i;
    if (i == digitsFrom)
        return false;
    if (i < text.size() && text.at(i) == u'.') {
        const qsizetype fractionFrom = ++i;
        while (i < text.size() && text.at(i).unicode() >= u'0' && text.at(i).unicode() <= u'9')
            ++i;
        if (i == fractionFrom)
            return false;
    }
    return i == text.size();
}

} // namespace

QString SpreadsheetSafeCell(const QString& text, bool numericColumn)
{
    if (text.isEmpty())
        return text;
    const QChar first = text.front();
    const bool formula = first == u'=' || first == u'+' || first == u'-' || first == u'@' ||
                         first == u'\t' || first == u'\r';
    if (!formula || (numericColumn && IsPlainNumber(text)))
        return text;
    return u'\'' + text;
}

namespace {

QString TabCell(QString text)
{
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}

void AppendCsvCell(QString& out, const QString& text)
{
    const bool quoted =
        text.contains(u'"') || text.contains(u',') || text.contains(u'\r') || text.contains(u'\n');
    if (!quoted) {
        out += text;
        return;
    }
    out += u'"';
    for (const QChar c : text) {
        if (c == u'"')
            out += u'"';
        out += c;
    }
    out += u'"';
}

// Windows lists point the arrow up for an ascending column, and so do ours. Qt's Windows
// build already draws it that way; elsewhere Qt hands an ascending column to the style as
// "sort down", which the window's style draws pointing down (the layout test looks at the
// drawn arrow on both).
class ReportHeader : public QHeaderView
{
public:
    explicit ReportHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override
    {
        QHeaderView::initStyleOptionForIndex(option, logicalIndex);
#ifndef Q_OS_WIN
        if (option->sortIndicator == QStyleOptionHeader::SortDown)
            option->sortIndicator = QStyleOptionHeader::SortUp;
        else if (option->sortIndicator == QStyleOptionHeader::SortUp)
            option->sortIndicator = QStyleOptionHeader::SortDown;
#endif
    }
};

} // namespace

ReportView::ReportView(const QString& objectName, const std::vector<ReportColumn>& columns,
                       QWidget* parent)
    : QTreeView(parent)
{
    setObjectName(objectName);
    QStringList headers;
    for (const ReportColumn& column : columns)
        headers << column.header;
    m_model = new TextTableModel(headers, this);
    setHeader(new ReportHeader(this));
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
    for (const ReportColumn& column : columns)
        m_widths.push_back(column.width);
    ApplyColumnWidths();
}

void ReportView::SetProxy(QAbstractProxyModel* proxy)
{
    m_proxy = proxy;
    setModel(proxy);
    // A new model gives the header fresh sections.
    ApplyColumnWidths();
    // No column chosen yet: the model's order.
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
}

void ReportView::ApplyColumnWidths()
{
    for (int i = 0; i < static_cast<int>(m_widths.size()); ++i) {
        const int width = m_widths[static_cast<std::size_t>(i)];
        setColumnWidth(i, width);
        setColumnHidden(i, width == 0);
    }
}

int ReportView::RowCount() const
{
    return m_proxy ? m_proxy->rowCount() : m_model->RowCount();
}

QModelIndex ReportView::ViewIndex(int row, int column) const
{
    return model()->index(row, column);
}

int ReportView::ModelRow(int viewRow) const
{
    if (viewRow < 0 || viewRow >= RowCount())
        return -1;
    if (!m_proxy)
        return viewRow;
    return m_proxy->mapToSource(m_proxy->index(viewRow, 0)).row();
}

int ReportView::ViewRow(int modelRow) const
{
    if (modelRow < 0 || modelRow >= m_model->RowCount())
        return -1;
    if (!m_proxy)
        return modelRow;
    return m_proxy->mapFromSource(m_model->index(modelRow, 0)).row();
}

void ReportView::SetCell(int row, int column, const QString& text)
{
    const int modelRow = ModelRow(row);
    if (modelRow >= 0)
        m_model->SetCell(modelRow, column, text.toStdString());
}

QString ReportView::Cell(int row, int column) const
{
    const int modelRow = ModelRow(row);
    return modelRow < 0 ? QString() : QString::fromStdString(m_model->Cell(modelRow, column));
}

int ReportView::Selection() const
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && selectionModel()->isSelected(current))
        return current.row();
    const std::vector<int> rows = SelectedRows();
    return rows.empty() ? -1 : rows.front();
}

std::vector<int> ReportView::SelectedRows() const
{
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void ReportView::SetSelection(int row)
{
    if (row < 0 || row >= RowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    SetSelectedRows({row}, row);
}

void ReportView::SetSelectedRows(const std::vector<int>& rows, int current)
{
    std::vector<int> sorted;
    sorted.reserve(rows.size());
    for (const int row : rows) {
        if (row >= 0 && row < RowCount())
            sorted.push_back(row);
    }
    std::sort(sorted.begin(), sorted.end());
    // Runs of neighbouring rows become one range each, so selecting many rows stays cheap.
    QItemSelection selection;
    const int lastColumn = model()->columnCount() - 1;
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t end = i + 1;
        while (end < sorted.size() && sorted[end] <= sorted[end - 1] + 1)
            ++end;
        selection.select(ViewIndex(sorted[i]), ViewIndex(sorted[end - 1], lastColumn));
        i = end;
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (current < 0 || current >= RowCount())
        current = sorted.empty() ? -1 : sorted.front();
    if (current >= 0)
        selectionModel()->setCurrentIndex(ViewIndex(current), QItemSelectionModel::NoUpdate);
}

void ReportView::ScrollIntoView(int row)
{
    if (row >= 0 && row < RowCount())
        scrollTo(ViewIndex(row));
}

QStringList ReportView::Headers() const
{
    QStringList headers;
    for (int column = 0; column < m_model->ColumnCount(); ++column)
        headers << m_model->headerData(column, Qt::Horizontal).toString();
    return headers;
}

QString ReportView::RowsAsTabText(const std::vector<int>& rows) const
{
    const int columns = m_model->ColumnCount();
    QString text = Headers().join(u'\t') + u'\n';
    for (const int row : rows) {
        const int modelRow = ModelRow(row);
        if (modelRow < 0)
            continue;
        for (int column = 0; column < columns; ++column) {
            if (column > 0)
                text += u'\t';
            text += TabCell(SafeCell(modelRow, column));
        }
        text += u'\n';
    }
    return text;
}

QString ReportView::SafeCell(int modelRow, int column) const
{
    return SpreadsheetSafeCell(QString::fromStdString(m_model->Cell(modelRow, column)),
                               m_numericColumn && m_numericColumn(column));
}

QByteArray ReportView::RowsAsCsv(const std::vector<int>& rows) const
{
    const int columns = m_model->ColumnCount();
    const QStringList headers = Headers();
    QString text;
    for (int column = 0; column < columns; ++column) {
        if (column > 0)
            text += u',';
        AppendCsvCell(text, headers.at(column));
    }
    text += u"\r\n";
    for (const int row : rows) {
        const int modelRow = ModelRow(row);
        if (modelRow < 0)
            continue;
        for (int column = 0; column < columns; ++column) {
            if (column > 0)
                text += u',';
            AppendCsvCell(text, SafeCell(modelRow, column));
        }
        text += u"\r\n";
    }
    return QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
}

void ReportView::CopySelectedRows() const
{
    const std::vector<int> rows = SelectedRows();
    // Nothing selected leaves the clipboard as it was.
    if (!rows.empty())
        QGuiApplication::clipboard()->setText(RowsAsTabText(rows));
}

QPoint ReportView::KeyboardMenuPosition() const
{
    int row = currentIndex().isValid() ? currentIndex().row() : Selection();
    QRect rect = row >= 0 ? visualRect(ViewIndex(row)) : QRect();
    const QRect area = viewport()->rect();
    if (!rect.isValid() || !area.intersects(rect))
        rect = QRect(area.topLeft(), QSize(1, 1));
    const QPoint at(std::clamp(rect.left(), 0, std::max(0, area.width() - 1)),
                    std::clamp(rect.bottom(), 0, std::max(0, area.height() - 1)));
    return viewport()->mapToGlobal(at);
}

void ReportView::SetFooter(QWidget* footer, int height)
{
    m_footer = footer;
    m_footerHeight = height;
    footer->setParent(this);
    footer->installEventFilter(this);
    updateGeometries();
}

void ReportView::SetColumnGrowth(int fit, int fill)
{
    m_fitColumn = fit;
    m_fillColumn = fill;
    connect(m_model, &QAbstractItemModel::modelReset, this, &ReportView::GrowColumns);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &ReportView::GrowColumns);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &ReportView::GrowColumns);
}

int ReportView::ContentWidth(int column) const
{
    // Every row, not only those on screen (what sizeHintForColumn measures): a long text
    // further down must fit as well. The lists that grow their columns are short.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int widest = header()->sectionSizeHint(column);
    for (int row = 0; row < m_model->RowCount(); ++row) {
        const QModelIndex index = m_model->index(row, column);
        widest = std::max(widest, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return widest;
}

void ReportView::GrowColumns()
{
    if (m_fitColumn < 0 || m_fillColumn < 0)
        return;
    const int fit = m_model->RowCount() > 0 ? ContentWidth(m_fitColumn)
                                            : m_widths[static_cast<std::size_t>(m_fitColumn)];
    int others = 0;
    for (int column = 0; column < static_cast<int>(m_widths.size()); ++column) {
        if (column != m_fitColumn && column != m_fillColumn)
            others += m_widths[static_cast<std::size_t>(column)];
    }
    setColumnWidth(m_fitColumn, fit);
    // The rest of the room, or as much as its longest text needs (the list then scrolls
    // sideways): a text is never cut.
    setColumnWidth(m_fillColumn,
                   std::max(viewport()->width() - others - fit, ContentWidth(m_fillColumn)));
}

void ReportView::updateGeometries()
{
    QTreeView::updateGeometries();
    // The tree view sets the margins for its header; the footer's room comes below.
    const int bottom = m_footer && !m_footer->isHidden() ? m_footerHeight : 0;
    QMargins margins = viewportMargins();
    if (margins.bottom() != bottom) {
        margins.setBottom(bottom);
        setViewportMargins(margins);
    }
    PlaceFooter();
}

void ReportView::PlaceFooter()
{
    if (!m_footer)
        return;
    const QRect rows = viewport()->geometry();
    m_footer->setGeometry(rows.left(), rows.bottom() + 1, rows.width(), m_footerHeight);
}

bool ReportView::viewportEvent(QEvent* event)
{
    // Scroll bars that come and go change the rows' room without resizing the view.
    if (event->type() == QEvent::Resize) {
        PlaceFooter();
        GrowColumns();
    }
    return QTreeView::viewportEvent(event);
}

bool ReportView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_footer && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        updateGeometries();
    return QTreeView::eventFilter(watched, event);
}

void ReportView::mousePressEvent(QMouseEvent* event)
{
    QTreeView::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        emit RightClicked(event->globalPosition().toPoint());
}

void ReportView::keyPressEvent(QKeyEvent* event)
{
    const bool menuKey = event->key() == Qt::Key_Menu ||
                         (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (menuKey) {
        event->accept();
        emit KeyboardMenuRequested(KeyboardMenuPosition());
        return;
    }
    if (m_rowCopy && event->matches(QKeySequence::Copy)) {
        event->accept();
        CopySelectedRows();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void ReportView::contextMenuEvent(QContextMenuEvent* event)
{
    // Platforms that turn the menu key into a menu event of their own (besides the key press)
    // land here too; the page ignores a request while its menu is open. Mouse requests were
    // answered on the button press.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        event->accept();
        emit KeyboardMenuRequested(KeyboardMenuPosition());
        return;
    }
    event->ignore();
}

} // namespace mrvn
