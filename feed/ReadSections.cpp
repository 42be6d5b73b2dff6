#include "feed/ReadSections.h"

#include <thread>

namespace vantrel {
namespace {

// Retirements between two attempts to free: checking the stripes reads cache
// lines that readers write, so the writer does it only now and then.
constexpr std::size_t kPollEvery = 32;

// Each thread takes the next stripe on its first section. A plain integer:
// thread-local objects with destructors would keep the library loaded after
// dlclose.
std::atomic<unsigned> g_nNextStripe{0};
thread_local unsigned t_nStripe = 0;  // 0: none taken yet; else stripe + 1

}  // namespace

CReadSections::~CReadSections() {
    DeleteList(m_pWaiting);
    DeleteList(m_pPending);
}

CReadSections::Section CReadSections::Enter() noexcept {
    unsigned nStripe = t_nStripe;
    if (nStripe == 0) {
        nStripe = g_nNextStripe.fetch_add(1, std::memory_order_relaxed) % kStripes + 1;
        t_nStripe = nStripe;
    }
    // A stale epoch only puts the reader in the other epoch's count, which the
    // writer drains as well.
    std::atomic<uint32_t>* const pCounter =
        &m_stripes[nStripe - 1].n[m_nEpoch.load(std::memory_order_relaxed) & 1u];
    pCounter->fetch_add(1, std::memory_order_seq_cst);
    return Section(pCounter);
}

void CReadSections::Retire(Retirable* pObject) noexcept {
    if (pObject == nullptr) return;
    pObject->m_pNextRetired = m_pPending;
    m_pPending = pObject;
    if (++m_nPending % kPollEvery == 0) Poll();
}

bool CReadSections::Busy(unsigned nEpoch) const noexcept {
    for (const Stripe& stripe : m_stripes) {
        if (stripe.n[nEpoch & 1u].load(std::memory_order_seq_cst) != 0) return true;
    }
    return false;
}

void CReadSections::SwitchEpoch() noexcept {
    m_nEpoch.store(m_nEpoch.load(std::memory_order_relaxed) ^ 1u, std::memory_order_seq_cst);
}

void CReadSections::Poll() noexcept {
    for (;;) {
        if (m_phase == Phase::Idle) {
            if (m_pPending == nullptr) return;
            m_pWaiting = m_pPending;
            m_nWaiting = m_nPending;
            m_pPending = nullptr;
            m_nPending = 0;
            SwitchEpoch();
            m_phase = Phase::DrainingFirst;
        }
        // Readers counted under the epoch left behind can only leave.
        const unsigned nLeft = m_nEpoch.load(std::memory_order_relaxed) ^ 1u;
        if (Busy(nLeft)) return;
        if (m_phase == Phase::DrainingFirst) {
            SwitchEpoch();
            m_phase = Phase::DrainingSecond;
            if (Busy(nLeft ^ 1u)) return;
        }
        DeleteList(m_pWaiting);
        m_pWaiting = nullptr;
        m_nWaiting = 0;
        m_phase = Phase::Idle;
    }
}

void CReadSections::Synchronize() noexcept {
    for (;;) {
        Poll();
        if (m_phase == Phase::Idle && m_pPending == nullptr) return;
        std::this_thread::yield();
    }
}

void CReadSections::DeleteList(Retirable* pList) noexcept {
    while (pList != nullptr) {
        Retirable* const pNext = pList->m_pNextRetired;
        delete pList;
        pList = pNext;
    }
}

}  // namespace vantrel
