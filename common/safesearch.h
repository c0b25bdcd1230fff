#pragma once

#include <QByteArray>
#include <QUrl>
#include <optional>

// Safe search forced on the search engines that have a switch for it: the switch is written
// into every address of a page or frame those engines are asked for, over whatever value the
// page or the person gave, so a link with safe=off still searches safely.
namespace SafeSearch {

enum class TLevel { Off, Strict, Moderate };

// The address with the engine's switch forced, or nothing when `url` is not a search of one of
// them or already carries it.
std::optional<QUrl> Forced(const QUrl &url, TLevel level);
// The header YouTube takes instead ("YouTube-Restrict"), and its value; empty for other hosts.
QByteArray YouTubeHeaderValue(const QUrl &url, TLevel level);
inline constexpr const char *YouTubeHeader = "YouTube-Restrict";

} // namespace SafeSearch
