// The floating-point state under which the library converts numbers.
//
// Prices and sizes must be the doubles their texts name, to the last bit,
// which takes IEEE double arithmetic rounded to nearest. The thread's
// floating-point state belongs to the host, and hosts change it: one that
// draws with Direct3D may leave the x87 unit at 24-bit precision, others pick
// another rounding mode or unmask exceptions. StandardDoubleArithmetic puts
// the standard state in place for its lifetime (x87: 53-bit precision; x87
// and SSE: round to nearest, exceptions masked, no flushing of tiny values to
// zero) and then gives the host its own state back. It writes only when the
// state differs, so in the usual case it costs two reads.
//
// This header compiles as C++14 and C++17.
#pragma once

#include <cstdint>

namespace vantrel {
namespace platform {

class StandardDoubleArithmetic {
public:
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    StandardDoubleArithmetic() noexcept {
        __asm__ __volatile__("fnstcw %0" : "=m"(m_nX87Saved));
        // Exception masks (bits 0-5), precision (8-9: 53 bits), rounding (10-11: nearest).
        const uint16_t nX87 = static_cast<uint16_t>((m_nX87Saved & ~0x0F3Fu) | 0x023Fu);
        m_bX87Changed = nX87 != m_nX87Saved;
        if (m_bX87Changed) __asm__ __volatile__("fldcw %0" : : "m"(nX87));
#if defined(__SSE__)
        __asm__ __volatile__("stmxcsr %0" : "=m"(m_nSseSaved));
        // Keep the status flags (bits 0-5); exception masks (7-12) set;
        // denormals-are-zero (6), rounding (13-14) and flush-to-zero (15) clear.
        const uint32_t nSse = (m_nSseSaved & 0x003Fu) | 0x1F80u;
        m_bSseChanged = nSse != m_nSseSaved;
        if (m_bSseChanged) __asm__ __volatile__("ldmxcsr %0" : : "m"(nSse));
#endif
    }
    ~StandardDoubleArithmetic() {
        if (m_bX87Changed) __asm__ __volatile__("fldcw %0" : : "m"(m_nX87Saved));
#if defined(__SSE__)
        if (m_bSseChanged) __asm__ __volatile__("ldmxcsr %0" : : "m"(m_nSseSaved));
#endif
    }
#else
    // Elsewhere nothing is set: the library's targets are x86.
    StandardDoubleArithmetic() noexcept = default;
#endif
    StandardDoubleArithmetic(const StandardDoubleArithmetic&) = delete;
    StandardDoubleArithmetic& operator=(const StandardDoubleArithmetic&) = delete;

private:
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    uint16_t m_nX87Saved = 0;
    bool m_bX87Changed = false;
#if defined(__SSE__)
    bool m_bSseChanged = false;
    uint32_t m_nSseSaved = 0;
#endif
#endif
};

}  // namespace platform
}  // namespace vantrel
