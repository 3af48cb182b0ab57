#pragma once

// Holds chosen images of a run in their making until a condition holds, and
// tells which images were made: lets a test do something at an exact point of
// a run that makes images ahead on threads of its own.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <QStringList>

#include "engine/BatchEngine.h"

namespace pixquill::test {

class HeldImages {
public:
    // The image named `name` is made only once `until` holds (looked at every
    // millisecond, on the making thread).
    void Hold(const QString& name, std::function<bool()> until) { m_held[name] = std::move(until); }

    // For BatchPlan::WrapMaker. Every Hold comes before the run starts.
    std::function<ImageMaker(ImageMaker)> Wrapper()
    {
        return [this](ImageMaker maker) {
            return [this, maker](const QString& name, const JobSettings& settings) {
                if (const auto held = m_held.find(name); held != m_held.end()) {
                    while (!held->second())
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                MadeImage image = maker(name, settings);
                const std::lock_guard lock(m_mutex);
                m_made.append(name + QLatin1Char('@') + settings.Prefix);
                m_changed.notify_all();
                return image;
            };
        };
    }

    // Waits until each of `made` ("NAME@PREFIX": made with that prefix) is.
    void WaitFor(const QStringList& made)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] {
            for (const QString& one : made) {
                if (!m_made.contains(one))
                    return false;
            }
            return true;
        });
    }

private:
    std::map<QString, std::function<bool()>> m_held;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QStringList m_made;
};

} // namespace pixquill::test
