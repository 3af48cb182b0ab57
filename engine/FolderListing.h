#pragma once

// Reading a folder the way the file list shows it: the ordinary files, in the
// order a file manager sorts names. Shared by the window's list and the
// command line, so both see the same files in the same order. Pure functions
// of the file system: safe from any thread.

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

// How many ordinary files the folder holds, by the same rules; 0 when it
// cannot be listed.
int CountOrdinaryFiles(const QString& folder);

// Creates the folder, one level: its parent must exist. Done when the folder
// exists afterwards (made now or before), otherwise the system's reason
// ("No such file or directory", "Permission denied", "File exists" for a
// file of that name).
Outcome<> CreateOneFolder(const QString& folder);

} // namespace pixquill
