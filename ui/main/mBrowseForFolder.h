#pragma once

#include <cstdint>
#include <functional>

#include <QString>

class QWidget;

namespace pixquill {

class FolderChooser;

// Shows the modal folder chooser over `owner` with `title`, the start folder
// highlighted (the current directory when `startFolder` is empty) and the
// highlighted folder's file count on the status line. With `requireFiles`
// non-zero (true = -1) OK is enabled only for folders that hold files.
// Returns the chosen folder's absolute path ("/" for the root, no trailing
// "/" otherwise), or "" on Cancel. Without `requireFiles` the chooser offers
// New Folder. GUI thread only.
QString BrowseForFolder(QWidget* owner, const QString& startFolder, const QString& title,
                        std::int32_t requireFiles);

// Where a chooser opens for a typed folder: the folder itself when it exists,
// else its nearest parent that does (relative paths from the current
// directory), else fallback's. A missing path whose only existing parent is
// the root does not open at "/" (nobody typed that): fallback is taken, and
// with none, "" (the current directory).
QString ChooserStartFolder(const QString& typed, const QString& fallback = QString());

// Sets the folder to highlight and the require-files flag for the next
// chooser. One trailing "/" is removed from the folder; "/" itself stays "/".
void SetBrowseStartFolder(const QString& folder, std::int32_t requireFiles);

// The chooser's callback: on FolderChooser::kInitialized highlights the start
// folder and, when files are required, enables OK only if it holds files; on
// kSelectionChanged shows "N Files" for `path` and, when files are required,
// enables OK only for N > 0. An empty `path` (an item with no file-system
// path) leaves the status line and OK as they were. Always returns 0.
std::int32_t BrowseCallbackProc(FolderChooser* dialog, int message, const QString& path);

// The number of ordinary files directly in `folder`: neither hidden (name
// starting with "."), nor folders, sockets, FIFOs, devices or dangling links.
// A symbolic link counts when it leads to an ordinary file, as in the file
// list. A folder that cannot be listed counts 0. Reads only the folder's
// entries (a stat only where the entry type is unknown or a link); never
// opens the files.
std::int32_t CountFiles(const QString& folder);

// Replaces the chooser in BrowseForFolder for tests of its callers: while set,
// BrowseForFolder returns the hook's answer for the caller's own arguments and
// shows nothing. An empty function restores the chooser.
using FolderChooserHook =
    std::function<QString(QWidget* owner, const QString& startFolder, const QString& title,
                          std::int32_t requireFiles)>;
void SetFolderChooserHookForTests(FolderChooserHook hook);

} // namespace pixquill
