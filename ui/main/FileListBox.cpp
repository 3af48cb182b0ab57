#include "FileListBox.h"

#include <algorithm>
#include <vector>

#include <QDir>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include "engine/FolderListing.h"
#include "engine/OptionTables.h"
#include "ui/main/EmptyListHint.h"

namespace pixquill {

FileListBox::FileListBox(QWidget* parent)
    : QListWidget(parent)
    , m_path(QDir::currentPath())
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
}

void FileListBox::Refresh()
{
    // One reading of the folder, every file in list order, serves the rows
    // and, when none match, the hint; the mask is matched here, once a name,
    // as the listing would have matched it.
    const Outcome<QStringList> listing = ReadFolderListing(m_path, QStringLiteral("*.*"));
    m_problem = listing.Reason();
    QStringList rows;
    QStringList others;
    if (listing) {
        const CompiledMask mask(m_pattern);
        rows.reserve(listing->size());
        for (const QString& name : *listing)
            (mask.Matches(name) ? rows : others).append(name);
    }
    // Only an empty list counts what the other entries would show.
    m_hint = listing && rows.isEmpty() ? EmptyListHint(others, m_pattern) : QString();
    // Thousands of rows: fill without repainting per row.
    setUpdatesEnabled(false);
    clear();
    addItems(rows);
    FitRowsToNames();
    setUpdatesEnabled(true);
    setToolTip(m_problem);
    viewport()->update();
}

void FileListBox::FitRowsToNames()
{
    if (count() == 0) {
        setGridSize(QSize());
        return;
    }
    // The delegate's room around the text, both sides, with some to spare.
    const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 4;
    const QFontMetrics metrics(font());
    const int visible = viewport()->width();
    int widest = 0;
    for (int row = 0; row < count(); ++row) {
        QListWidgetItem* entry = item(row);
        const int width = metrics.horizontalAdvance(entry->text()) + margin;
        widest = std::max(widest, width);
        if (width > visible)
            entry->setToolTip(entry->text());
    }
    // With uniform row sizes (which keep thousands of rows fast) the view
    // makes rows as wide as itself; a grid as wide as the widest name lets it
    // scroll sideways instead of cutting names short.
    setGridSize(widest > visible ? QSize(widest, sizeHintForRow(0)) : QSize());
}

QStringList FileListBox::Names() const
{
    QStringList names;
    names.reserve(count());
    for (int row = 0; row < count(); ++row)
        names.append(item(row)->text());
    return names;
}

QStringList FileListBox::SelectedNames() const
{
    // From the selection's ranges rather than asking every row, which would
    // search the ranges once per row.
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QStringList names;
    names.reserve(static_cast<qsizetype>(rows.size()));
    for (const int row : rows)
        names.append(item(row)->text());
    return names;
}

QString FileListBox::FocusedName() const
{
    const QListWidgetItem* focused = currentItem();
    return focused ? focused->text() : QString();
}

void FileListBox::SetAllSelected(bool selected)
{
    if (selected && count() > 0)
        selectionModel()->select(QItemSelection(model()->index(0, 0), model()->index(count() - 1, 0)),
                                 QItemSelectionModel::Select);
    else if (!selected)
        selectionModel()->clearSelection();
    emit Click();
}

void FileListBox::mousePressEvent(QMouseEvent* event)
{
    QListWidget::mousePressEvent(event);
    // The base press has moved the focus and the selection; a press that
    // unselects the row with Ctrl still counts as a click on it.
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid())
        emit Click();
}

void FileListBox::paintEvent(QPaintEvent* event)
{
    QListWidget::paintEvent(event);
    if (count() > 0 || m_hint.isEmpty())
        return;
    // Wrapped at the list's width, from the top, in the placeholder colour of
    // a text box that is waiting for input.
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int margin = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 2;
    painter.drawText(viewport()->rect().adjusted(margin, margin, -margin, -margin),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, m_hint);
}

void FileListBox::keyPressEvent(QKeyEvent* event)
{
    const QModelIndex before = currentIndex();
    QListWidget::keyPressEvent(event);
    if (currentIndex() != before && currentIndex().isValid())
        emit Click();
}

} // namespace pixquill
