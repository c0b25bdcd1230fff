#pragma once

#include "downloads/runfiles.h"

#include <QHash>
#include <QList>
#include <QObject>
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
// command's own download and is left to it. A download that fails or is cancelled leaves no
// part of itself behind. When the machine forgets browsing data, a visitor's files are deleted
// when the session ends, whatever ends it: the idle reset, the end of the program or, for a run
// that crashed, the next start.
class TDownloadManager : public QObject
{
    Q_OBJECT

public:
    TDownloadManager(QWebEngineProfile *profile, QObject *parent);
    ~TDownloadManager() override;
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
    // Under way until the transfer broke off: why, as the bar should say it. The engine has
    // let go of `request`, which hears nothing more of the download.
    void Failed(QWebEngineDownloadRequest *request, const QString &text);
    // Refused before a byte was written: the file's name and why.
    void Refused(const QString &name, const QString &reason);
    // The same refusal by the address the file came from, for the time keeper's log.
    void RefusedFrom(const QUrl &url, const QString &reason);
    // A visitor's session has ended (EndSession); nothing of it is under way any more.
    void SessionEnded();

private:
    struct TDownload
    {
        QPointer<QWebEngineDownloadRequest> request;
        QString path;
    };
    void decide(QWebEngineProfile *profile, QWebEngineDownloadRequest *request);
    void follow(QWebEngineDownloadRequest *request, const QString &path);
    void ended(QWebEngineDownloadRequest *request, const QString &path);
    void endRun();

    // Paths of this run's downloads still under way: a second download of the same name must
    // not be given a path that only looks free because the first has not written it yet.
    QSet<QString> m_underWay;
    AddressRule m_addressAllowed;
    // This session's downloads by the engine's number for each, with the path each was given.
    // Numbers are a profile's own, so the profile goes with them.
    QHash<QPair<const QWebEngineProfile *, quint32>, TDownload> m_session;
    QList<QPointer<QWebEngineProfile>> m_profiles;
    // The files of the session that the program must delete however the run ends.
    TRunFiles m_forgotten;
};
