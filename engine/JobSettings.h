#pragma once

// The settings of a thumbnail job as the window's controls hold them, and the
// small interface through which a batch reads them for every image, so that
// a change made during a run takes effect from the next image on.

#include <QString>

#include "engine/OptionTables.h"

namespace pixquill {

struct JobSettings {
    QString SourceFolder;      // text of the source folder box
    QString DestinationFolder; // text of the destination folder box
    QString Prefix = QStringLiteral("_TH");
    QString WidthText = QStringLiteral("100");  // pixels, or the percentage
    QString HeightText = QStringLiteral("100");
    int ResizeMode = kResizeMaintainAspect;     // list index; other values keep the loaded size
    int ResampleFilter = kFilterHalftone;       // filter code, not a list index
    int OutputFormat = kOutputFormatJpeg;       // list index; -1 when none is selected
    // JPEGs decoded at a reduced scale where the thumbnail is small enough
    // (the command line's --fast): same sizes, nearly the same pixels.
    bool FastDecode = false;
    // Encoder quality 1..100 of the lossy formats (the command line's
    // --quality); 0 gives each format its default (the window always does).
    int Quality = 0;

    // Every field; a decode worker must receive each of them (WorkerProtocol).
    friend bool operator==(const JobSettings&, const JobSettings&) = default;
};

// Read once at Start and once before every image. A window implements it over
// its live controls; tests and the command line over plain values. Called on
// the thread that runs the batch.
class BatchSettings {
public:
    virtual ~BatchSettings() = default;
    virtual JobSettings ReadJobSettings() = 0;
};

// Settings that only change when someone assigns new ones.
class FixedBatchSettings : public BatchSettings {
public:
    explicit FixedBatchSettings(JobSettings settings = {}) : m_settings(std::move(settings)) {}
    JobSettings ReadJobSettings() override { return m_settings; }
    JobSettings& Settings() { return m_settings; }

private:
    JobSettings m_settings;
};

} // namespace pixquill
