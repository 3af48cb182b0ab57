#pragma once

#include <functional>

#include <QDialog>
#include <QString>

class QDialogButtonBox;
class QFileSystemModel;
class QLabel;
class QModelIndex;
class QTreeView;

namespace pixquill {

// A modal folder chooser: the tree of the file system's folders from "/",
// a status line and OK / Cancel. What it shows beyond that is decided by a
// callback, told once when the dialog is set up (kInitialized, before the user
// can act) and again at every change of the highlighted folder
// (kSelectionChanged, with that folder's path; an empty path when the
// highlighted item has none). The callback steers the dialog through
// SetStatusText, EnableOK and SetSelection.
//
// Hidden folders (names starting with ".") are not listed, except those on the
// way to a folder given to SetSelection, so a hidden start folder can still be
// highlighted. The folder tree is read on a worker thread of Qt's file-system
// model; everything else here runs on the GUI thread.
class FolderChooser : public QDialog {
    Q_OBJECT
public:
    static constexpr int kInitialized = 1;
    static constexpr int kSelectionChanged = 2;

    using Callback = std::function<int(FolderChooser* dialog, int message, const QString& path)>;

    FolderChooser(QWidget* owner, const QString& title, Callback callback);

    void SetStatusText(const QString& text);
    void EnableOK(bool enabled);

    // Highlights `path` (absolute, or relative to the current directory),
    // opening its parents and scrolling it into view. A path that names no
    // folder leaves the highlight where it is.
    void SetSelection(const QString& path);

    // The highlighted folder's absolute path: "/" for the root, no trailing
    // "/" otherwise; empty when nothing is highlighted.
    QString SelectedPath() const;

    // Adds a "New Folder" button that makes a folder, named by the user,
    // inside the highlighted one and highlights it.
    void OfferNewFolder();

    // OK does nothing while no folder is highlighted. A row the tree only
    // made current on taking the focus (the root's, when the start folder
    // could not be shown) is not highlighted: it was nobody's choice.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnCurrentChanged(const QModelIndex& current);
    void OnDirectoryLoaded(const QString& folder);
    void MakeNewFolder();

    Callback m_callback;
    QFileSystemModel* m_model = nullptr;
    QTreeView* m_tree = nullptr;
    QLabel* m_statusLine = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    bool m_initialized = false;
    // The folder last given to SetSelection, until its parent has been read:
    // rows arriving from the worker shift it, so it is scrolled to again.
    QString m_pendingScroll;
};

} // namespace pixquill
