#pragma once

#include <memory>

#include <QString>

#include "engine/JobSettings.h"

namespace pixquill {

class fMain;

// The job settings as the main window's controls hold them, kept in the
// snapshot a run reads: refreshed on the window's thread whenever a control
// changes, so that a format, prefix, size or filter changed during a run
// applies from the next image on. The source folder is the one exception: it
// is fixed when the run starts, because the names being worked through are
// rows of the list of that folder. GUI thread only (the snapshot itself may
// be read from any thread).
class LiveSettings {
public:
    explicit LiveSettings(fMain& window) : m_window(window), m_snapshot(std::make_shared<SettingsSnapshot>()) {}

    // The folder the names of the next run belong to.
    void SetSourceFolder(const QString& folder);

    // Reads the controls into the snapshot.
    void Refresh();

    std::shared_ptr<const SettingsSnapshot> Snapshot() const { return m_snapshot; }
    JobSettings Current() const { return m_snapshot->Current().Settings; }

private:
    fMain& m_window;
    QString m_sourceFolder;
    std::shared_ptr<SettingsSnapshot> m_snapshot;
};

} // namespace pixquill
