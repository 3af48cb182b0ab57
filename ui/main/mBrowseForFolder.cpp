#include "mBrowseForFolder.h"

#include <utility>

#include <QDir>
#include <QFileInfo>

#include "engine/FolderListing.h"
#include "ui/main/FolderChooser.h"

namespace pixquill {

namespace {

// The chooser that is open reads these; every browse overwrites them.
QString StartFolder;
bool RequireFiles = false;

FolderChooserHook& ChooserHook()
{
    static FolderChooserHook hook;
    return hook;
}

QString FileCountText(std::int32_t count)
{
    return QString::number(count) + QStringLiteral(" Files");
}

} // namespace

QString BrowseForFolder(QWidget* owner, const QString& startFolder, const QString& title,
                        std::int32_t requireFiles)
{
    if (ChooserHook())
        return ChooserHook()(owner, startFolder, title, requireFiles);

    SetBrowseStartFolder(startFolder.isEmpty() ? QDir::currentPath() : startFolder, requireFiles);
    FolderChooser dialog(owner, title, BrowseCallbackProc);
    if (requireFiles == 0)
        dialog.OfferNewFolder();
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.SelectedPath();
}

QString ChooserStartFolder(const QString& typed, const QString& fallback)
{
    if (typed.isEmpty())
        return fallback.isEmpty() ? QString() : ChooserStartFolder(fallback);
    if (QFileInfo(typed).isDir())
        return typed;
    QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(typed));
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    if (folder == QDir::rootPath())
        return fallback.isEmpty() ? QString() : ChooserStartFolder(fallback);
    return folder;
}

void SetBrowseStartFolder(const QString& folder, std::int32_t requireFiles)
{
    QString start = folder;
    // "/" minus its separator would name nothing, where the root was meant.
    if (start.size() > 1 && start.endsWith(QLatin1Char('/')))
        start.chop(1);
    StartFolder = start;
    RequireFiles = requireFiles != 0;
}

std::int32_t BrowseCallbackProc(FolderChooser* dialog, int message, const QString& path)
{
    if (!dialog)
        return 0;
    switch (message) {
    case FolderChooser::kInitialized:
        if (!StartFolder.isEmpty())
            dialog->SetSelection(StartFolder);
        if (RequireFiles)
            dialog->EnableOK(CountFiles(StartFolder) > 0);
        break;
    case FolderChooser::kSelectionChanged: {
        if (path.isEmpty())
            break;
        const std::int32_t count = CountFiles(path);
        dialog->SetStatusText(FileCountText(count));
        if (RequireFiles)
            dialog->EnableOK(count > 0);
        break;
    }
    default:
        break;
    }
    return 0;
}

std::int32_t CountFiles(const QString& folder)
{
    // An empty text names no folder here (not the current directory).
    return folder.isEmpty() ? 0 : CountOrdinaryFiles(folder);
}

void SetFolderChooserHookForTests(FolderChooserHook hook)
{
    ChooserHook() = std::move(hook);
}

} // namespace pixquill
