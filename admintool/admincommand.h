#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QTextStream;

// quelvard-admin: the administrator's command for the machine-wide login and settings.
// Kept apart from its main() so tests run it against a temporary machine hive.
namespace AdminCommand {

// WouldChange: apply --check found the machine's settings other than the file's, so a
// playbook tells "would change" from a failure by the status alone.
enum ExitStatus { Success = 0, Usage = 1, NotPermitted = 2, Unreadable = 3, WouldChange = 4 };

struct TConsole
{
    QTextStream *out; // what was asked for (status, lists)
    QTextStream *err; // messages
    // Reads one line typed by the administrator; `secret` lines are not echoed. Returns false
    // at the end of input. Empty when there is no terminal to ask on.
    std::function<bool(const QString &prompt, bool secret, QString &line)> ask;
    // Reads one line of standard input for --stdin; false at the end of input.
    std::function<bool(QString &line)> readLine;
};

// Runs one command line (without the program's name) and returns its exit status.
int Run(const QStringList &arguments, TConsole &console);

} // namespace AdminCommand
