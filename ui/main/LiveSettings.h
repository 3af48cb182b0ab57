#pragma once

#include <QString>

#include "engine/JobSettings.h"

namespace pixquill {

class fMain;

// The job settings as the main window's controls hold them at the moment of
// reading: the batch reads them before every image, so a format, prefix,
// size or filter changed during a run applies from the next image on. The
// source folder is the one exception: it is fixed when the run starts,
// because the names being worked through are rows of the list of that
// folder. GUI thread only.
class LiveSettings : public BatchSettings {
public:
    explicit LiveSettings(fMain& window) : m_window(window) {}

    // The folder the names of the next run belong to.
    void SetSourceFolder(const QString& folder) { m_sourceFolder = folder; }

    JobSettings ReadJobSettings() override;

private:
    fMain& m_window;
    QString m_sourceFolder;
};

} // namespace pixquill
