#pragma once

// pixquill-batch's --report: one JSON object per image on a line of its own,
// written as each image finishes. Each line goes out in one write straight
// to the file, never through a buffer, so the file is valid JSON Lines at
// any moment, even when the run is interrupted or killed.

#include <QString>

#include "codec/Outcome.h"
#include "engine/ProcessImage.h"

namespace pixquill {

class JsonLinesReport {
public:
    JsonLinesReport() = default;
    ~JsonLinesReport();

    JsonLinesReport(const JsonLinesReport&) = delete;
    JsonLinesReport& operator=(const JsonLinesReport&) = delete;

    // Creates (or empties) the file; "-" is standard output. The system's
    // reason when it cannot.
    Outcome<> Open(const QString& path);

    // One line for the image. After the first write that fails, nothing more
    // is written and Problem() says why.
    void Add(const ImageResult& result, const QString& sourcePath);

    // The line of its own that says what of the decode workers' lock-down
    // did not hold: {"sandbox":"decoding is not sandboxed here: ..."}, before
    // the first image's line.
    void AddSandbox(const QString& note);

    const QString& Problem() const { return m_problem; }

    // The line written for an image, without its newline.
    static QByteArray Line(const ImageResult& result, const QString& sourcePath);

private:
    void Write(const QByteArray& line);

    int m_fd = -1;
    bool m_ownsFd = false;
    QString m_problem;
};

} // namespace pixquill
