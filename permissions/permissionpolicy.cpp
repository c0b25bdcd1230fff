#include "permissions/permissionpolicy.h"

using MachinePolicies::DeviceAccess;

QList<TPermissionPolicy::TDevice> TPermissionPolicy::Devices(TFeature feature)
{
    switch (feature) {
    case QWebEnginePage::MediaAudioCapture:
        return {TDevice::Microphone};
    case QWebEnginePage::MediaVideoCapture:
        return {TDevice::Camera};
    case QWebEnginePage::MediaAudioVideoCapture:
        return {TDevice::Camera, TDevice::Microphone};
    case QWebEnginePage::DesktopVideoCapture:
    case QWebEnginePage::DesktopAudioVideoCapture:
        return {TDevice::ScreenSharing};
    case QWebEnginePage::Geolocation:
        return {TDevice::Location};
    case QWebEnginePage::Notifications:
    case QWebEnginePage::MouseLock:
        break;
    }
    return {};
}

QString TPermissionPolicy::Site(const QUrl &origin)
{
    return origin
        .adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                  QUrl::RemoveUserInfo)
        .toString(QUrl::FullyEncoded)
        .toLower();
}

namespace {
// The person tells sites apart by host and port; a page cannot choose either freely.
QString shownSite(const QUrl &url)
{
    QString site = url.host();
    if (url.port() != -1)
        site += QLatin1Char(':') + QString::number(url.port());
    return site;
}
} // namespace

QString TPermissionPolicy::Question(const QUrl &origin, TFeature feature, const QUrl &page)
{
    QString what;
    switch (feature) {
    case QWebEnginePage::MediaAudioCapture:
        what = QStringLiteral("use your microphone");
        break;
    case QWebEnginePage::MediaVideoCapture:
        what = QStringLiteral("use your camera");
        break;
    case QWebEnginePage::MediaAudioVideoCapture:
        what = QStringLiteral("use your camera and microphone");
        break;
    case QWebEnginePage::DesktopVideoCapture:
        what = QStringLiteral("share your screen");
        break;
    case QWebEnginePage::DesktopAudioVideoCapture:
        what = QStringLiteral("share your screen and its sound");
        break;
    case QWebEnginePage::Geolocation:
        what = QStringLiteral("know your location");
        break;
    case QWebEnginePage::Notifications:
    case QWebEnginePage::MouseLock:
        return QString();
    }
    if (!page.host().isEmpty() && shownSite(page) != shownSite(origin))
        return QStringLiteral("%1, inside %2, wants to %3.")
            .arg(shownSite(origin), shownSite(page), what);
    return QStringLiteral("%1 wants to %2.").arg(shownSite(origin), what);
}

QString TPermissionPolicy::key(const QUrl &origin, TDevice device)
{
    return Site(origin) + QLatin1Char(' ') + QString::number(static_cast<int>(device));
}

TPermissionPolicy::TAnswer TPermissionPolicy::Decide(const QUrl &origin, TFeature feature) const
{
    const QList<TDevice> devices = Devices(feature);
    if (devices.isEmpty() || !origin.isValid() || origin.host().isEmpty())
        return TAnswer::Deny;
    const MachinePolicies::recMachinePolicies machine = m_machine();
    bool unanswered = false;
    for (const TDevice device : devices) {
        DeviceAccess access = DeviceAccess::Ask;
        switch (device) {
        case TDevice::Camera:
            access = machine.Camera;
            break;
        case TDevice::Microphone:
            access = machine.Microphone;
            break;
        case TDevice::ScreenSharing:
            access = machine.ScreenSharing;
            break;
        case TDevice::Location:
            access = machine.Location;
            break;
        }
        if (access == DeviceAccess::Block)
            return TAnswer::Deny;
        if (access == DeviceAccess::Allow)
            continue;
        const auto answer = m_answers.constFind(key(origin, device));
        if (answer == m_answers.constEnd())
            unanswered = true;
        else if (!*answer)
            return TAnswer::Deny;
    }
    return unanswered ? TAnswer::Ask : TAnswer::Allow;
}

void TPermissionPolicy::Remember(const QUrl &origin, TFeature feature, bool allowed)
{
    for (const TDevice device : Devices(feature))
        m_answers.insert(key(origin, device), allowed);
}

TPermissionPolicy &TPermissionPolicy::ForThisRun()
{
    static TPermissionPolicy policy([] { return MachinePolicies::Current(); });
    return policy;
}
