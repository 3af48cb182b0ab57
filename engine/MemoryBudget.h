#pragma once

// The memory a run may spend on images in making at once. Each image's peak
// is estimated from its header before it is started (EstimateImageMemory);
// an image is admitted while the estimates of the images in hand and its own
// fit the limit, so large images wait their turn instead of meeting in
// memory, and an image that cannot fit alone is refused with its figures.

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QString>

#include "codec/Outcome.h"

namespace pixquill {

class Surface;

// "4G", "6000M", "512K", "1T" (powers of 1024) or a number of bytes; a
// decimal point is taken ("1.5G"). Refused: nothing, zero, a negative or
// unknown unit, more than an exabyte.
Outcome<std::uint64_t> ParseMemorySize(const QString& text);

// "5.1 GB", "800 MB", "12 KB" (powers of 1024, one decimal where it says
// something).
QString MemoryText(std::uint64_t bytes);

// "needs about 5.1 GB, the limit is 4 GB"
QString MemoryRefusal(std::uint64_t needed, std::uint64_t limit);

// MemAvailable of a /proc/meminfo text, in bytes; nothing when absent.
std::optional<std::uint64_t> MemAvailableOf(const QByteArray& meminfo);

// A run's limit when none is given: half of the memory available as it
// starts; nothing when that cannot be read (the run then has no budget).
std::optional<std::uint64_t> DefaultMemoryLimit();

// A decode worker's address-space limit under a run's budget: the budget,
// plus what a worker maps whatever it decodes (its libraries, its threads'
// stacks, the allocator's reserved arenas), which counts against the limit
// without being memory in use. 0 (no limit) in a sanitizer build.
std::uint64_t WorkerAddressSpace(std::uint64_t budget);
inline constexpr std::uint64_t kWorkerMappedBytes = std::uint64_t{1} << 30;

// A making thread's or a worker's surface that still holds a large picture
// after its image gives it back, so that between images it holds no more
// than the budget counts. Small pictures stay, to be drawn over by the next
// image without a new allocation.
void ReleaseLargePicture(Surface& surface);
inline constexpr qsizetype kKeptPictureBytes = qsizetype{64} << 20;

// The bookkeeping of a run's budget. Not synchronised: the run guards it
// with its own lock.
class MemoryBudget {
public:
    // 0: no limit.
    explicit MemoryBudget(std::uint64_t limit = 0) : m_limit(limit) {}

    std::uint64_t Limit() const { return m_limit; }
    std::uint64_t InHand() const { return m_inHand; }

    // Too much for the limit even with nothing else in hand.
    bool NeverFits(std::uint64_t bytes) const { return m_limit > 0 && bytes > m_limit; }
    // May start now: within the limit beside what is in hand. With nothing
    // in hand anything starts, so that no image waits for ever.
    bool Fits(std::uint64_t bytes) const { return m_limit == 0 || m_inHand == 0 || m_inHand + bytes <= m_limit; }
    void Take(std::uint64_t bytes) { m_inHand += bytes; }
    void Give(std::uint64_t bytes) { m_inHand -= std::min(bytes, m_inHand); }

private:
    std::uint64_t m_limit = 0;
    std::uint64_t m_inHand = 0;
};

} // namespace pixquill
