// Size limits of a markup document. Offsets and record positions are 32-bit, so a text and an
// index stay below what they can address, with a margin for the offset arithmetic.
#pragma once

#include <cstdint>

namespace pagorin::detail {

inline constexpr std::int64_t kRecordsPerPage = 65536;
inline constexpr std::int64_t kMaxRecords = 0x7FFF0000;
inline constexpr std::size_t kMaxTextLength = 0x7FFFFF00;

}  // namespace pagorin::detail
