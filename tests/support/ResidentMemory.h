#pragma once

namespace palisor::test {

// Under AddressSanitizer freed memory waits in its quarantine (up to 256 MiB), so resident
// memory grows by design; there LeakSanitizer checks at exit that nothing was lost instead.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kResidentMemoryTells = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kResidentMemoryTells = false;
#else
inline constexpr bool kResidentMemoryTells = true;
#endif
#else
inline constexpr bool kResidentMemoryTells = true;
#endif

}  // namespace palisor::test
