#include "FileListBox.h"

#include <QDir>

#include "engine/OptionTables.h"

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
    const QStringList names = ListMatchingFiles(m_path, m_pattern);
    // Thousands of rows: fill without repainting per row.
    setUpdatesEnabled(false);
    clear();
    addItems(names);
    setUpdatesEnabled(true);
}

QStringList FileListBox::Names() const
{
    QStringList names;
    names.reserve(count());
    for (int row = 0; row < count(); ++row)
        names.append(item(row)->text());
    return names;
}

} // namespace pixquill
