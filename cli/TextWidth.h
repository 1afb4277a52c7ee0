#pragma once
// Widths as a terminal shows them: CJK characters take two columns, so Japanese lines are padded and cut by
// columns, never by bytes.

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::cli {

// Bytes in a whole UTF-8 character that starts at `at`, 0 when none does (ASCII included). Overlong forms,
// surrogates and the C1 controls (U+0080 to U+009F, which some terminals obey like escapes) count as none.
std::size_t characterLength(std::string_view s, std::size_t at);

// Columns `text` (UTF-8) takes; a byte that starts no valid character counts as one column.
std::size_t displayWidth(std::string_view text);

// `text` cut to at most `columns` columns, never inside a character.
std::string fitWidth(std::string_view text, std::size_t columns);

// `text` followed by blanks up to `columns` columns (unchanged when it is that wide already).
std::string padWidth(std::string_view text, std::size_t columns);

}  // namespace velmora::cli
