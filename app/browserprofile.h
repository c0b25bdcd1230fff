#pragma once

#include <functional>

class QObject;
class QWebEngineProfile;

// The engine profile every new page uses. The administrator chooses whether it keeps cookies,
// site storage and the HTTP cache between runs (a family stays logged in to its mail) or
// forgets everything when the program ends (a library's public machine). A kiosk's visitor
// leaving ends a session within the run: the pages made from then on get a fresh profile, and
// whatever hangs on a profile (the scheme handler, the download decisions, the lock's engine
// settings) follows it.
namespace BrowserProfile {

// Made on first use from the machine's setting for browsing data; the session's profile since.
QWebEngineProfile *Current();

// Gives the pages made from now on a fresh off-the-record profile and calls every follower
// with it. The engine cannot empty a profile pages still use, so the old one is let go once
// the last of its pages is gone; the engine's default profile, which cannot be freed, is
// emptied of cookies, cache and visited links instead.
QWebEngineProfile *StartNewSession();

// Calls `install` with the current profile now and with each session profile started later,
// while `context` lives.
void OnEachProfile(QObject *context, std::function<void(QWebEngineProfile *)> install);

} // namespace BrowserProfile
