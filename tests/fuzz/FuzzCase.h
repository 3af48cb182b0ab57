#pragma once

// How a fuzz input becomes an image file and a job, shared by the fuzz
// target and the test that replays the files it found, so that a saved file
// goes through exactly the load, render and save it crashed in.

#include <QByteArray>
#include <QString>

#include "engine/JobSettings.h"

namespace pixquill::fuzz {

// A fuzz input is a first line naming the file's extension (letters and
// digits, at most 8), then the file's bytes. Any other first line gives the
// extension "img", which names no format, and the whole input as the file.
struct FuzzInput {
    QString Extension;
    QByteArray Content;
};

FuzzInput SplitFuzzInput(const QByteArray& data);

// The job a file of that many bytes is put through: fitted into 48 × 40, with
// the output format and the resample filter picked from the size, so that
// every format and filter gets its share and a replay picks the same.
JobSettings FuzzJob(const QString& sourceFolder, const QString& destinationFolder, qint64 size);

} // namespace pixquill::fuzz
