#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

// The language file: every text the program shows is looked up by a dotted key in
// section "en" of it.

// Opens the language file at `path` (a full path), closing the one opened before.
// Nothing is read or checked here; a missing file behaves as an empty one.
void locOpen(const std::string& path);
// Back to the start state: no language file.
void locClose();

// The text of `arguments` formatted into the value of `key`, each call with a text of
// its own (any thread may call):
// - no file open, or the key missing or empty: the key itself;
// - in the value, backslash-r and then backslash-n become CR and LF;
// - each "%s" (flags, width and precision allowed) takes the next argument and "%%"
//   gives "%". A value whose conversions are not exactly one "%s" per argument (a
//   "%d", a lone "%", a "%s" too many or too few) is not formatted: it is shown as it
//   stands with each "%%" turned into "%", so a bad language file never crashes;
// - the result is cut to at most 4095 bytes, never inside a UTF-8 character.
// Values are read up to 2047 characters.
std::string locTextWith(std::string_view key, std::initializer_list<std::string_view> arguments);

namespace locDetail {
inline std::string_view asText(const char* text) {
    return text ? text : "";
}
inline std::string_view asText(std::string_view text) {
    return text;
}
} // namespace locDetail

template <typename... Arguments>
std::string locText(std::string_view key, const Arguments&... arguments) {
    static_assert((std::is_convertible_v<const Arguments&, std::string_view> && ...),
                  "locText takes text arguments only");
    return locTextWith(key, {locDetail::asText(arguments)...});
}
