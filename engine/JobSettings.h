#pragma once

// The settings of a thumbnail job as the window's controls hold them, and the
// snapshot of them a run reads, so that a change made during a run takes
// effect from the next image on.

#include <mutex>

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
    int Crop = kCropCentre;                     // where "Fill and Crop" cuts (the command line's --crop)
    int ResampleFilter = kFilterHalftone;       // filter code, not a list index
    int OutputFormat = kOutputFormatJpeg;       // list index; -1 when none is selected
    // JPEGs decoded at a reduced scale where the thumbnail is small enough
    // (the command line's --fast): same sizes, nearly the same pixels.
    bool FastDecode = false;
    // Encoder quality 1..100 of the lossy formats (the command line's
    // --quality); 0 gives each format its default (the window always does).
    int Quality = 0;
    // The metadata each thumbnail takes over from its image (the command
    // line's --keep; the window never keeps any).
    int Keep = kKeepNone;
    // Boxes for several thumbnails of each image, "320x320 640x640" (the
    // command line's --size given more than once): each box's thumbnail is
    // named with "-W" before the extension. Empty: one thumbnail, of the
    // width and height texts' box (the window always).
    QString Sizes;

    // Every field: a run remakes an image when any of them changed, and each
    // has its row in JobSettingsTable, which carries it to a decode worker.
    friend bool operator==(const JobSettings&, const JobSettings&) = default;
};

// The settings a run reads, shared between the thread that changes them (a
// window's, whenever a control changes) and the run's thread. Each change
// that alters them bumps the version, so a run can tell in one comparison
// whether an image made ahead was made with the settings of its turn. Safe
// from any thread.
class SettingsSnapshot {
public:
    struct Versioned {
        JobSettings Settings;
        quint64 Version = 0;
    };

    explicit SettingsSnapshot(JobSettings settings = {}) : m_current{std::move(settings), 0} {}

    // Replaces the settings; the version moves on only when they differ.
    void Set(const JobSettings& settings)
    {
        const std::lock_guard lock(m_mutex);
        if (settings == m_current.Settings)
            return;
        m_current.Settings = settings;
        ++m_current.Version;
    }

    Versioned Current() const
    {
        const std::lock_guard lock(m_mutex);
        return m_current;
    }

private:
    mutable std::mutex m_mutex;
    Versioned m_current;
};

} // namespace pixquill
