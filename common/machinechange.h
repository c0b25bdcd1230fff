#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <sys/types.h>

// What tells a running browser that the administrator changed the machine's settings, seen
// from both sides: the browser follows the files, quelvard-admin names the browsers it told.
namespace MachineChange {

// The files a running browser follows (the store, the compiled address lists, the shared
// favorites' folders and files), as one text of names, inodes, sizes and times: any write,
// replacement or removal gives another text.
QString Fingerprint();
// The shared favorites' folders, the top one first; empty when there are none.
QStringList FavoriteFolders();

struct TBrowser
{
    pid_t Process = 0;
    QString User;
};
// The browsers running on this machine with this store: each holds the store's folder open
// for the run. Only root sees other users' processes; the list is sorted by user and process.
QList<TBrowser> RunningBrowsers();
// What quelvard-admin says after a change: the browsers told, or that none runs.
QString ToldText(const QList<TBrowser> &browsers);

} // namespace MachineChange
