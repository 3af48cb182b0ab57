#include "mBrowseForFolder.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <QDir>
#include <QFile>

#if defined(Q_OS_UNIX)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#else
#include <QDirIterator>
#endif

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
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.SelectedPath();
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
    if (folder.isEmpty())
        return 0;
    std::int64_t count = 0;
#if defined(Q_OS_UNIX)
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        // Hidden names, "." and ".." included, never count.
        if (entry->d_name[0] == '.')
            continue;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            // Follows a link to what it names; a dangling one fails here.
            struct stat info;
            regular = ::fstatat(dirFd, entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular)
            ++count;
    }
    ::closedir(dir);
#else
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
#endif
    return static_cast<std::int32_t>(std::min<std::int64_t>(count, std::numeric_limits<std::int32_t>::max()));
}

void SetFolderChooserHookForTests(FolderChooserHook hook)
{
    ChooserHook() = std::move(hook);
}

} // namespace pixquill
