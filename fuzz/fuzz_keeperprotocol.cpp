// The keeper's reader and its answers on any bytes: every account on the machine can connect
// to the keeper and send it whatever it likes. Input: one byte choosing how the rest is cut
// into reads, then the bytes of the connection.
#include "fuzzcheck.h"

#include "common/keeperprotocol.h"
#include "keeper/keeperserver.h"
#include "keeper/keeperstore.h"

#include <QByteArray>
#include <QJsonDocument>
#include <memory>

namespace {

using KeeperProtocol::TReader;

// One store for a run of inputs, renewed now and then so it stays small; root, who may ask
// everything, and another account take turns.
struct TKeeper
{
    TKeeper()
        : Clock(QDateTime::fromString(QStringLiteral("2024-03-04T10:00"), Qt::ISODate), 60000),
          Store(QStringLiteral(":memory:")), Dispatcher(Store, Clock)
    {
    }
    TKeeperClock Clock;
    TKeeperStore Store;
    TKeeperDispatcher Dispatcher;
};

TKeeperDispatcher &dispatcher()
{
    static std::unique_ptr<TKeeper> keeper;
    static int inputs = 0;
    if (!keeper || ++inputs % 500 == 0)
        keeper = std::make_unique<TKeeper>();
    return keeper->Dispatcher;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int cut = data[0];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const TKeeperCaller callers[] = {{0, QStringLiteral("root"), {QStringLiteral("root")}},
                                     {1000, QStringLiteral("alice"), {QStringLiteral("pupils")}}};

    TReader reader;
    qsizetype fed = 0;
    qsizetype consumed = 0;
    int messages = 0;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype chunk = qMin<qsizetype>(1 + (cut * 7 + at) % 61, bytes.size() - at);
        reader.Feed(bytes.mid(at, chunk));
        at += chunk;
        fed += chunk;
        for (;;) {
            const qsizetype before = reader.Pending();
            QJsonObject message;
            QString error;
            const TReader::TResult result = reader.Next(&message, &error);
            FUZZ_CHECK(reader.Pending() <= fed - consumed);
            if (result == TReader::TResult::Bad) {
                FUZZ_CHECK(!error.isEmpty());
                // The connection is closed here: nothing after it is read.
                return 0;
            }
            if (result == TReader::TResult::NeedMore) {
                FUZZ_CHECK(reader.Pending() == before);
                break;
            }
            consumed += before - reader.Pending();
            FUZZ_CHECK(message.value(QStringLiteral("v")).toInt() == KeeperProtocol::Version);

            // What the keeper sends back is read back as it was sent.
            const QJsonObject answer = dispatcher().Answer(callers[messages++ % 2], message);
            FUZZ_CHECK(answer.value(QStringLiteral("ok")).isBool());
            FUZZ_CHECK(answer.value(QStringLiteral("ok")).toBool() ||
                       !answer.value(QStringLiteral("error")).toString().isEmpty());
            TReader echo;
            echo.Feed(KeeperProtocol::Frame(answer));
            QJsonObject read;
            FUZZ_CHECK(echo.Next(&read, &error) == TReader::TResult::Message);
            QJsonObject sent = answer;
            sent.insert(QStringLiteral("v"), KeeperProtocol::Version);
            FUZZ_CHECK(read == sent);
            FUZZ_CHECK(echo.Pending() == 0);
        }
    }
    return 0;
}
