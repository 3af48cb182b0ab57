#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

namespace pixquill {

// The file list: the ordinary files of one folder whose names match a mask of
// ";"-separated wildcard patterns, one bare file name per row, in file-manager
// order, with extended selection (click, Ctrl+click, Shift+click). Setting the
// folder or the pattern does not re-read the folder; Refresh() does, and
// leaves no row selected. A folder that cannot be listed gives an empty list
// whose tooltip says why; a folder read whose files the mask all leaves out
// gives an empty list whose empty area says why in grey (the hint, painted
// in the viewport: no row, so nothing can select, count or start it).
// GUI thread only.
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

    // Re-reads the folder.
    void Refresh();

    // Why the last Refresh() listed nothing ("No such folder", "Not a
    // folder", "Cannot read this folder"); empty when the folder was read.
    QString Problem() const { return m_problem; }

    // The line the empty area shows (EmptyListHint); empty when the last
    // Refresh() listed rows or could not read the folder.
    QString Hint() const { return m_hint; }

    // Bare file names in list order.
    QStringList Names() const;
    // The selected rows' names in list order.
    QStringList SelectedNames() const;
    // The name of the focused row (selected or not); empty when none.
    QString FocusedName() const;

    // Selects or unselects every row as one change of the selection (so a
    // list of 100,000 rows is not repainted or re-examined row by row), then
    // raises Click as any change of the selection by the program does.
    void SetAllSelected(bool selected);

signals:
    // A click on a row (whether it selects or unselects it), a move of the
    // focused row with the keyboard, or a change of the selection made by the
    // program through SetAllSelected.
    void Click();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Makes every name readable: the rows as wide as the widest name, and a
    // tooltip with the whole name on each row wider than the list.
    void FitRowsToNames();

    QString m_path;
    QString m_pattern = QStringLiteral("*.*");
    QString m_problem;
    QString m_hint;
};

} // namespace pixquill
