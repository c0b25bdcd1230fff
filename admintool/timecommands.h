#pragma once

#include "admintool/admincommand.h"

#include <QString>
#include <QStringList>

// The administrator's commands that speak to the time keeper: time limits, schedules, extra
// time, usage, the log and the requests to open a page. The keeper holds all of these; the
// machine store only notes that it holds rules, so browsers know to ask it.
namespace TimeCommands {

struct TCommand
{
    const char *Name;
    const char *Usage;
    const char *Help;
};
// Their lines of quelvard-admin --help.
extern const TCommand Commands[6];
const TCommand *Find(const QString &name);

// The lines of status for the keeper's rules, one for each account, group or everyone:
// "time limit for user alice: 60 min; schedule: mon-fri 07:30-20:00".
QString RulesText();

// status --for-user NAME: the lists, the time limit and the schedule that hold for one account.
int AccountStatus(const QString &user, AdminCommand::TConsole &console);

// Runs one of them; `args` follow the command's name.
int Run(const QString &command, const QStringList &args, AdminCommand::TConsole &console);

} // namespace TimeCommands
