// quelvard-admin: sets the administrator login and the machine-wide settings of Quelvard.
#include "admintool/admincommand.h"
#ifdef QUELVARD_ADMIN_MACHINE_DIR_VARIABLE
#include "common/apppaths.h"
#include "common/runasuser.h"
#endif

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

bool readStdinLine(QString &line)
{
    std::string bytes;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        bytes.push_back(char(c));
    if (c == EOF && bytes.empty())
        return false;
    if (!bytes.empty() && bytes.back() == '\r')
        bytes.pop_back();
    line = QString::fromLocal8Bit(bytes.data(), qsizetype(bytes.size()));
    return true;
}

// Echo is turned off only while a secret is typed, and back on even when input ends. It goes
// off before the prompt shows, so nothing typed after the prompt is flushed away or echoed.
bool askLine(const QString &prompt, bool secret, QString &line)
{
    termios saved{};
    const bool hide = secret && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hide) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    const bool read = readStdinLine(line);
    if (hide) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    return read;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quelvard"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

#ifdef QUELVARD_ADMIN_MACHINE_DIR_VARIABLE
    // Only a copy built for the tests, never installed, has this: the guide's commands run
    // against a temporary machine folder instead of the one compiled in.
    const QString machineDir = qEnvironmentVariable(QUELVARD_ADMIN_MACHINE_DIR_VARIABLE);
    if (machineDir.isEmpty()) {
        std::fputs("quelvard-admin: " QUELVARD_ADMIN_MACHINE_DIR_VARIABLE " is not set\n", stderr);
        return AdminCommand::Usage;
    }
    AppPaths::OverrideMachineDataDir(machineDir);
    // ... and its users are the folders of a temporary /home, all of them the caller.
    const QString homes = qEnvironmentVariable("QUELVARD_TEST_HOMES");
    if (!homes.isEmpty())
        RunAsUser::OverrideAccounts(homes);
#endif

    QTextStream out(stdout);
    QTextStream err(stderr);
    // Piped or redirected input is no one typing: set-login then says so instead of reading
    // the pipe as a password.
    AdminCommand::TConsole console{&out, &err, nullptr, readStdinLine};
    if (isatty(STDIN_FILENO))
        console.ask = askLine;
    return AdminCommand::Run(arguments, console);
}
