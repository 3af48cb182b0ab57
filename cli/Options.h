#pragma once

// pixquill-batch's command line: the options it offers, and what they ask
// for once read and checked. A usage error comes back as a Failure whose
// reason is the line to print (after the program's name).

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "codec/Outcome.h"
#include "engine/FolderListing.h"
#include "engine/JobSettings.h"

class QCommandLineParser;

namespace pixquill {

struct BatchOptions {
    JobSettings Settings;
    // The images to make, in the order to make them: the FILE arguments, the
    // --files-from list or SOURCE's listing, cut to the --share. With
    // --recursive, paths relative to SOURCE ("2024/05/a.jpg").
    QStringList Names;
    // Folders of SOURCE the listing could not read (SOURCE itself included):
    // each is reported, and the run cannot end with status 0.
    std::vector<UnreadFolder> UnreadFolders;
    // --recursive with DEST inside SOURCE: DEST's folder is not listed,
    // which the run says once.
    bool DestinationLeftOut = false;
    int Jobs = 1;
    int TimeoutSeconds = 300;
    std::uint64_t MemoryLimit = 0; // --memory-limit in bytes; 0: the run's default
    bool InProcess = false;
    bool SkipUpToDate = false; // --newer
    bool Quiet = false;
    std::optional<QString> ReportPath; // --report: "-" is standard output
};

// Puts the description, the positional arguments and every option into
// parser; those of the job's settings come from their rows (JobSettingsTable).
void DescribeOptions(QCommandLineParser& parser);

// Reads the options of a parser that has parsed the command line, checks
// them and collects the names; reads the --files-from list.
Outcome<BatchOptions> ReadOptions(const QCommandLineParser& parser);

} // namespace pixquill
