// Read sections with deferred freeing: many threads read shared objects
// without locks while one writer at a time replaces them.
//
// A reader opens a section, loads the published pointers it needs, uses what
// they point to, and closes the section. The writer publishes a replacement
// and retires the old object instead of deleting it; a retired object is
// deleted once every section that was open when it was retired has closed.
// Readers never wait. Each reader thread counts its open sections in its own
// cache-line-sized stripe, so that threads polling the same data do not
// contend for one cache line.
//
// Why it is safe: a reader's entry (a sequentially consistent increment)
// comes before its pointer loads (sequentially consistent), and the writer's
// replacing store comes before its reads of the counters. A reader that found
// an object before it was retired is therefore still counted when the writer
// reads the counters; a reader that is not yet counted then can only find the
// replacement. Readers count themselves under one of two epochs, and a batch
// of retired objects is freed only after the writer has switched the epoch
// twice and seen each epoch's counters at zero once, which also covers a
// reader that read the epoch just before a switch.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vantrel {

// Base of the objects that are retired rather than deleted.
class Retirable {
public:
    virtual ~Retirable() = default;

private:
    friend class CReadSections;
    Retirable* m_pNextRetired = nullptr;
};

class CReadSections {
public:
    static constexpr std::size_t kStripes = 16;

    // One open section; closing it is leaving its scope. A default-made
    // section is empty and closes nothing.
    class Section {
    public:
        Section() noexcept = default;
        Section(Section&& other) noexcept : m_pCounter(other.m_pCounter) { other.m_pCounter = nullptr; }
        Section(const Section&) = delete;
        Section& operator=(const Section&) = delete;
        Section& operator=(Section&&) = delete;
        ~Section() {
            if (m_pCounter != nullptr) m_pCounter->fetch_sub(1, std::memory_order_release);
        }

    private:
        friend class CReadSections;
        explicit Section(std::atomic<uint32_t>* pCounter) : m_pCounter(pCounter) {}
        std::atomic<uint32_t>* m_pCounter = nullptr;
    };

    CReadSections() = default;
    // Deletes everything still retired: no section may be open any more.
    ~CReadSections();
    CReadSections(const CReadSections&) = delete;
    CReadSections& operator=(const CReadSections&) = delete;

    // Opens a section on the calling thread. Pointers that the section loads
    // must be loaded with sequentially consistent order.
    Section Enter() noexcept;

    // The writer's side. Callers serialise these calls among themselves, and
    // publish a replacement (with a sequentially consistent store) before they
    // retire what it replaces.

    // Hands `pObject` over, to be deleted once no section can still use it.
    // Now and then also frees what has become safe to free.
    void Retire(Retirable* pObject) noexcept;

    // Frees whatever is safe to free now; never waits.
    void Poll() noexcept;

    // Waits until everything retired so far has been deleted. Sections are
    // short and never wait, so this ends soon; it must not be called from
    // inside a section.
    void Synchronize() noexcept;

    // Objects retired and not yet deleted (for tests).
    std::size_t RetiredCount() const noexcept { return m_nPending + m_nWaiting; }

private:
    struct alignas(128) Stripe {
        std::atomic<uint32_t> n[2] = {{0}, {0}};
    };

    bool Busy(unsigned nEpoch) const noexcept;
    void SwitchEpoch() noexcept;
    static void DeleteList(Retirable* pList) noexcept;

    Stripe m_stripes[kStripes];
    // Read by every reader: on a cache line of its own, away from the
    // writer's state, which changes with every retirement.
    alignas(128) std::atomic<unsigned> m_nEpoch{0};

    // Writer-only state. Pending objects wait for the next batch; the waiting
    // batch is freed once both epochs have drained since it was closed.
    enum class Phase { Idle, DrainingFirst, DrainingSecond };
    alignas(128) Phase m_phase = Phase::Idle;
    Retirable* m_pPending = nullptr;
    Retirable* m_pWaiting = nullptr;
    std::size_t m_nPending = 0;
    std::size_t m_nWaiting = 0;
};

}  // namespace vantrel
