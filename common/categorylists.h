#pragma once

#include "common/compiledfilter.h"

#include <QList>
#include <QString>
#include <QVector>

class TUrlFilter;

// The category lists an administrator imports, kept in the machine folder: each category as a
// list file of its own (its words, block or allow, then one entry a line), and all of them
// compiled into one file the browsers map (TCompiledFilter). The list files are what a rebuild
// compiles from; the compiled file is what a browser reads.
namespace CategoryLists {

// What reading one source gave: entries for one category, and the lines that were not a host
// or a host and path.
struct TRead
{
    QVector<TCompiledFilter::TEntry> Entries;
    int Skipped = 0;
    QStringList FirstSkipped; // "FILE:LINE", the first few
    QString Error;            // a source that could not be read at all
};

// Reads a category folder (its `domains` and `urls` files), a plain list of hosts or host/path
// lines, or a hosts file ("0.0.0.0 host"): `#` comments, blank lines, either line end, upper
// case, a trailing dot and international names are taken.
void ReadSource(const QString &path, TRead &into);
// One line's entries (none for a comment or a blank line); false when it is not an entry.
bool ReadLine(QStringView line, QVector<TCompiledFilter::TEntry> &into);

// A category's name: lower-case letters, digits, "-" and "_", at most 64.
bool ValidName(const QString &name);
// The name a source gives when none is asked for: its folder's or file's name, made valid.
QString NameOf(const QString &path);

QString ListsFolder();
// What the browser says at start when the compiled lists cannot be used.
QString UnusableMessage();
QString CompiledFile();

struct TStored
{
    QString Name;
    bool Allow = false;
    int Count = 0;
    QString Source; // the folder or file it was imported from, when known
};
// The categories stored, by name.
QVector<TStored> Stored();
// Stores (or replaces) one category and compiles the lists anew; false with `error` set when
// either could not be written, and then the browsers keep the lists they had.
bool Save(const QString &name, bool allow, const QVector<TCompiledFilter::TEntry> &entries,
          QString *error, const QString &source = QString());
// Drops one category (false when there is none of that name) and compiles the rest.
bool Drop(const QString &name, QString *error);
// Compiles every stored category into the compiled file; without any, removes it.
bool Rebuild(QString *error);

// Puts the machine's compiled lists on `filter`: nothing when there are none, the lists when
// they open, and when lists are stored but the compiled file is missing or damaged, a filter
// that refuses every address (`problem` then says why and what to run). `verifyNow` checks the
// whole file before answering (the administrator's command); a browser has it checked behind.
void Apply(TUrlFilter &filter, QString *problem, bool verifyNow = false);

} // namespace CategoryLists
