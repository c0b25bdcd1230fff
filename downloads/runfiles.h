#pragma once

#include <QString>
#include <QStringList>

// What a run that forgets must leave nobody: files and folders, written down before they exist,
// so that whatever ends the run they go. The run deletes them itself at its end; a run that had
// no end of its own (a crash, a kill, a power cut) has them deleted by the next start. The
// record is a file of its own in the records folder, one path a line, held under a lock for as
// long as its run lives: a record that nobody holds is a dead run's.
class TRunFiles
{
public:
    explicit TRunFiles(const QString &folder);
    ~TRunFiles();
    TRunFiles(const TRunFiles &) = delete;
    TRunFiles &operator=(const TRunFiles &) = delete;

    // Writes `path` down before it is made. False, with a line on standard error, when the
    // record cannot be written.
    bool Add(const QString &path);
    // Deletes every path written down (a folder with all it holds; a link, never what it leads
    // to) and crosses off those gone. What could not be deleted stays written down.
    QStringList DeleteAll();
    // The paths written down and not yet deleted.
    QStringList Paths() const { return m_paths; }

    // Deletes what the records of dead runs in `folder` name, then each record that has
    // nothing left. Records held by live runs, this one's included, are left alone. Returns how
    // many paths went.
    static int DeleteLeftByEndedRuns(const QString &folder);

private:
    bool open();
    bool write();

    QString m_folder;
    QString m_record;
    int m_fd = -1;
    QStringList m_paths;
};
