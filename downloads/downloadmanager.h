#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <functional>

class QWebEngineDownloadRequest;
class QWebEngineProfile;

// Decides every download a page starts in `profile` (a link, a form, a redirect, the PDF
// viewer's own button): it goes into the user's Downloads folder under a checked name, without
// a question, or it is refused. It never opens what it saved. A page saved with Save As is that
// command's own download and is left to it.
class TDownloadManager : public QObject
{
    Q_OBJECT

public:
    TDownloadManager(QWebEngineProfile *profile, QObject *parent);
    // Decides the downloads of `profile` as well: a new session's profile.
    void Follow(QWebEngineProfile *profile);
    // A visitor's session ends: what is still under way is cancelled and, with `deleteFiles`,
    // every file the session saved is deleted (one still being written as soon as it stops).
    void EndSession(bool deleteFiles);

    // Whether the administrator lets pages reach an address; a download from one that is
    // refused is refused too. Without a rule every address may be downloaded from.
    using AddressRule = std::function<bool(const QUrl &url)>;
    void SetAddressRule(AddressRule rule) { m_addressAllowed = std::move(rule); }

signals:
    // Accepted and under way; the request lives on in the profile for the bar to follow.
    void Started(QWebEngineDownloadRequest *request);
    // Refused before a byte was written: the file's name and why.
    void Refused(const QString &name, const QString &reason);

private:
    void decide(QWebEngineDownloadRequest *request);

    // Paths of this run's downloads still under way: a second download of the same name must
    // not be given a path that only looks free because the first has not written it yet.
    QSet<QString> m_underWay;
    AddressRule m_addressAllowed;
    // This session's downloads, with the path each was given.
    QList<QPair<QPointer<QWebEngineDownloadRequest>, QString>> m_session;
};
