#pragma once

class QWebEngineProfile;

// The engine profile every page of this run shares. The administrator chooses whether it keeps
// cookies, site storage and the HTTP cache between runs (a family stays logged in to its mail)
// or forgets everything when the program ends (a library's public machine).
namespace BrowserProfile {

// Made on first use from the machine's browsing-data setting, then kept for the run.
QWebEngineProfile *Current();

} // namespace BrowserProfile
