#pragma once

// What every batch does the same way, whichever front end runs it: the
// destination checked and created before the first image, the rule that no
// output replaces an image of the batch, and the tally of what became of the
// images with the captions that report it. Pure functions of the settings
// and the file system: safe from any thread.

#include <vector>

#include <QSet>
#include <QString>

#include "codec/HandedFiles.h"
#include "codec/Outcome.h"
#include "engine/ImageNames.h"
#include "engine/JobSettings.h"

namespace pixquill {

struct ImageResult;

// Failure codes of PrepareDestination.
inline constexpr int kNoDestination = 1;           // Reason: "Choose a destination folder"
inline constexpr int kDestinationNotCreated = 2;   // Reason: the system's words

// The destination folder of the settings, trimmed, made ready before a
// batch's first image: created (one level) when missing. An existing file of
// that name passes; its images then fail one by one with the saver's reason.
Outcome<QString> PrepareDestination(const JobSettings& settings);

// What a window shows for a destination PrepareDestination refused: "Choose a
// destination folder", or "Cannot create the destination folder (REASON)".
QString DestinationCaption(const Failure& failure);

// The folders of a name from a folder tree made below the destination,
// every level, so that its thumbnail can be written: "cannot create the
// folder PATH (REASON)" when one cannot be. Nothing to do for a plain name.
// Run by the batch's own process, never by a decode worker.
Outcome<> PrepareOutputFolder(const QString& name, const JobSettings& settings);

// Refuses an output that would replace an original: the image's own source
// ("would overwrite the source image"), or another image of the batch, one of
// listedNames (paths relative to the source folder; a tree's included)
// ("would overwrite the source image NAME").
// Only an existing output can be one, so the usual case costs one look at the
// file system. A decode worker may not look at names: once its files are
// handed over (FilesAreHandedOver) it gives the answer the batch made for
// the output in hand (HandOverReplacesCheck) instead.
Outcome<> CheckReplacesNoSource(const ImageNames& names, const JobSettings& settings,
                                const QSet<QString>& listedNames);

// In a decode worker: the batch's answers of CheckReplacesNoSource for the
// outputs of the request in hand (HandedOutput::ReplacesSource).
void HandOverReplacesChecks(const std::vector<HandedOutput>& outputs);

// How many images of a batch were written, failed or skipped as up to date.
struct BatchTally {
    int Written = 0;
    int Failed = 0;
    int UpToDate = 0; // the command line's --newer

    int Handled() const { return Written + Failed + UpToDate; }
    void Count(const ImageResult& result);

    // The captions below, for a batch of total images.
    QString CompletionCaption(int total) const;
    QString StoppedCaption(int total) const;
};

// "NAME: reason" for every image of results not written, one per line; for
// images sharing a thumbnail name, the one line of SharedNameLine instead.
QString FailureReport(const std::vector<ImageResult>& results);

// Marks the results of a group of images with one output name (one box's,
// or several boxes' mixed, in list order): per output, the last written one
// shows, the others written before it are turned into not written, with a
// reason naming the one shown (see ImageResult::ShownBy).
void MarkSharedNames(std::vector<ImageResult>& results);

// "a.heic, a.JPG and a.jpg share the thumbnail _THa.jpg; it shows a.jpg" for
// the result shown of such a group; empty for any other.
QString SharedNameLine(const ImageResult& result);

// A result not written only because another image's thumbnail of the same
// name replaced it.
bool IsShadowed(const ImageResult& result);

// "Completed W of N images", with " (F failed)" when some were not written.
// Images skipped as up to date are neither: " (U up to date)", or
// " (F failed, U up to date)" with both.
QString CompletionCaption(int written, int total, int upToDate = 0);

// For a batch ended before its last image: "Stopped after H of N images
// (W written)", with ", F failed" and ", U up to date" where not zero.
QString StoppedCaption(int handled, int total, int written, int upToDate);

} // namespace pixquill
