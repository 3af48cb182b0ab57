#pragma once

// The line an empty file list shows in its empty area, so that a folder of
// photos the chosen mask leaves out does not look like a folder Pixquill
// cannot read. Plain functions of names and the mask table: any thread.

#include <QString>
#include <QStringList>

#include "engine/OptionTables.h"

namespace pixquill {

// An entry's name for a sentence: its text before "(" ("Today's Photos"),
// or the whole text when it has none ("All Readable Formats").
QString MaskEntryName(const FileMaskEntry& entry);

// Why a list with the mask shows none of the folder's files, the names of
// its ordinary files in list order (which the mask all leaves out):
// - "No images in this folder" when no entry of the mask list other than
//   "All Files" would show any of them (an empty folder included);
// - else "No file here matches MASK — N photos match ENTRY (KINDS)": ENTRY is
//   the entry after the design's own ones (after "All Files", however many
//   there are) that would show the most, the first of them on a tie; when
//   none of those shows any, the design's entry that shows the most. KINDS
//   are the kinds of those files, the commonest first, three at most. MASK is
//   the name of the entry whose mask it is, or the mask itself.
QString EmptyListHint(const QStringList& files, const QString& mask);

} // namespace pixquill
