#pragma once

#include <QListWidget>
#include <QString>

namespace pixquill {

// The file list: the ordinary files of one folder whose names match a mask of
// ";"-separated wildcard patterns, one bare file name per row, with extended
// selection (click, Ctrl+click, Shift+click). Setting the folder or the
// pattern does not re-read the folder; Refresh() does, and leaves no row
// selected. GUI thread only.
class FileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent = nullptr);

    // The folder listed; starts as the process's current directory.
    QString Path() const { return m_path; }
    void SetPath(const QString& path) { m_path = path; }

    // The mask; starts as "*.*".
    QString Pattern() const { return m_pattern; }
    void SetPattern(const QString& pattern) { m_pattern = pattern; }

    // Re-reads the folder. A folder that cannot be read gives an empty list.
    void Refresh();

    // Bare file names in list order.
    QStringList Names() const;

private:
    QString m_path;
    QString m_pattern = QStringLiteral("*.*");
};

} // namespace pixquill
