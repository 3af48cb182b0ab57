#pragma once

// Reading a folder the way the file list shows it: the ordinary files, in the
// order a file manager sorts names. Shared by the window's list and the
// command line, so both see the same files in the same order. Pure functions
// of the file system: safe from any thread.

#include <vector>

#include <QString>
#include <QStringList>
#include <QStringView>

#include "codec/Outcome.h"

namespace pixquill {

// Orders two file names as a file manager does: case-insensitively, with runs
// of digits compared as numbers ("IMG_2.jpg" before "IMG_10.jpg"). Names that
// differ only in case or in leading zeros still get a fixed order, so a sort
// gives the same list on every machine and in every locale.
// Negative, zero or positive, like QString::compare.
int CompareFileNames(QStringView a, QStringView b);

// Sorts in place with CompareFileNames.
void SortFileNames(QStringList& names);

// The ordinary files of a folder whose names match the mask (see
// MatchesMask). Hidden files (a name starting with "."), folders, sockets,
// FIFOs, devices and dangling links are left out; a link to an ordinary file
// is listed. Files are never opened, and only entries whose type the
// directory itself does not tell (links, some file systems) are examined
// further, so a folder of 100,000 files lists in a fraction of a second.
// The bare file names, sorted by CompareFileNames; or, when the folder cannot
// be read, "No such folder", "Not a folder" or "Cannot read this folder" (a
// folder read with nothing in it that matches is no failure).
Outcome<QStringList> ReadFolderListing(const QString& folder, const QString& mask);

// A folder of a tree that could not be read.
struct UnreadFolder {
    QString Folder; // relative to the tree's root, "/"-separated; empty for the root itself
    QString Reason; // the system's words ("Permission denied")
};

struct FolderTree {
    // Paths relative to the root, "/"-separated ("2024/05/IMG_1.jpg").
    QStringList Names;
    // Folders skipped because they could not be read, in listing order.
    std::vector<UnreadFolder> Unread;
    // The folder to leave out was met (and not entered).
    bool LeftOut = false;
};

struct FolderTreeOptions {
    // False: the root's own files only.
    bool SubFolders = true;
    // A folder below the root whose whole subtree is not listed (the
    // destination of a run, when it lies inside the source), recognised as
    // the same folder on disk whatever the path's spelling. Empty: none.
    QString LeaveOut;
    // Also list the entries whose names match the mask but that are no
    // ordinary files: FIFOs, sockets, devices, dangling or looping links,
    // links to folders, and folders where SubFolders is false. A run given
    // them reports each as not made, with why, instead of passing over them.
    bool SpecialEntries = false;
};

// The ordinary files below root whose names match the mask, by the rules of
// ReadFolderListing, each folder's files in file-manager order and then its
// subfolders in that order, each one in full before the next: the same tree
// always lists in the same order, and the root's own files come first, as
// ReadFolderListing gives them. Hidden folders are skipped; links to folders
// are not followed (links to files are listed), so a link loop cannot hold
// the walk, and a folder met twice (a bind mount of a parent) is listed
// once. A folder that cannot be read is recorded with the system's reason
// and the walk goes on. Iterative, so a deep tree costs no stack.
FolderTree ReadFolderTree(const QString& root, const QString& mask, const FolderTreeOptions& options = {});

// Whether folder lies strictly below root, judged on the real paths (links
// resolved); a folder not made yet is judged by its nearest existing parent.
bool LiesInsideFolder(const QString& folder, const QString& root);

// How many ordinary files the folder holds, by the same rules; 0 when it
// cannot be listed.
int CountOrdinaryFiles(const QString& folder);

// Creates the folder, one level: its parent must exist. Done when the folder
// exists afterwards (made now or before), otherwise the system's reason
// ("No such file or directory", "Permission denied", "File exists" for a
// file of that name).
Outcome<> CreateOneFolder(const QString& folder);

// Creates the "/"-separated levels of relative below base, which must
// exist, each one with CreateOneFolder. Done, or the path of the first level
// that could not be made and the system's reason ("BASE/a/b (Permission
// denied)").
Outcome<> CreateFolderLevels(const QString& base, const QString& relative);

} // namespace pixquill
