// Replays seed corpora through a fuzz target without libFuzzer, so ordinary g++ builds and CI
// run every committed seed (and every regression found by fuzzing) as a plain test.
#include "fuzzcheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

int main(int argc, char **argv)
{
    int fed = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QFile::decodeName(argv[i]);
        QStringList files;
        if (QFileInfo(path).isDir()) {
            const QDir dir(path);
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        } else {
            files << path;
        }
        for (const QString &file : files) {
            QFile in(file);
            if (!in.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(file));
                return 1;
            }
            const QByteArray bytes = in.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                   size_t(bytes.size()));
            ++fed;
        }
    }
    // An empty or misplaced corpus would otherwise pass without testing anything.
    if (fed == 0) {
        std::fprintf(stderr, "no corpus files given\n");
        return 1;
    }
    std::printf("%d inputs passed\n", fed);
    return 0;
}
