// The module's string table: the user-facing texts, addressed by id, as code page 936 bytes.
#pragma once

#include <string>

namespace pagorin {

// The text of string `id` in code page 936; an empty text for an id the table does not hold.
// The table is converted from its UTF-8 source once, on first use; the reference stays valid for
// the life of the process. Any thread.
const std::string& LoadString(int id) noexcept;

}  // namespace pagorin
