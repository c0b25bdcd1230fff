#pragma once

#include "common/machinepolicies.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <functional>

// Decides what a page's request for a device (camera, microphone, the screen, the location)
// gets: the machine's setting for each device first, then the answer the person gave that site
// in this run, else a question. The answers are kept in memory only and die with the program.
// Notifications and mouse lock are always refused: there is no notification area to show them
// in, and a page holding the pointer could keep the person from the window's own controls.
class TPermissionPolicy
{
public:
    using TFeature = QWebEnginePage::Feature;
    enum class TDevice { Camera, Microphone, ScreenSharing, Location };
    enum class TAnswer { Allow, Deny, Ask };
    using TMachineSettings = std::function<MachinePolicies::recMachinePolicies()>;

    explicit TPermissionPolicy(TMachineSettings machine) : m_machine(std::move(machine)) {}

    // The devices a request uses; none for a request that is always refused.
    static QList<TDevice> Devices(TFeature feature);
    // The site an answer holds for: scheme, host and port.
    static QString Site(const QUrl &origin);
    // The question the bar asks: "<site> wants to use your camera and microphone.", or, when
    // a frame of another site asks, "<frame's site>, inside <page's site>, wants to ...": the
    // address bar shows the page's site, and the person must see that someone else asks.
    static QString Question(const QUrl &origin, TFeature feature, const QUrl &page = QUrl());

    TAnswer Decide(const QUrl &origin, TFeature feature) const;
    // The person's answer, for every device the request used, for the rest of the run.
    void Remember(const QUrl &origin, TFeature feature, bool allowed);

    // The one policy of this run, reading the machine's settings as they stand for the run.
    static TPermissionPolicy &ForThisRun();
    // Forgets the person's answers, as a new run would: a new visitor's session, and tests.
    void ForgetAnswers() { m_answers.clear(); }

private:
    static QString key(const QUrl &origin, TDevice device);
    TMachineSettings m_machine;
    QHash<QString, bool> m_answers;
};
