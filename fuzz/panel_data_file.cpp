// The panel data file reader: any bytes as a file named on the command line. A file is taken only
// whole and sound, and then written back the same; anything else leaves the store as it was and
// gives one line that says why.
#include "FuzzSupport.h"

#include "PanelDataStore.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    const QByteArray input = fuzzsupport::bytes(data, size);
    // The type of the store before: the first input byte picks one the file may or may not match.
    const qint32 typeBefore = size > 0 ? (data[0] % 2 ? 1 : 49) : 1;

    PanelDataStore store(typeBefore);
    const QByteArray before = store.toBytes();
    QString why;
    const bool taken = store.fromBytes(input, &why);
    if (!taken) {
        FUZZ_CHECK(store.toBytes() == before);
        FUZZ_CHECK(!why.isEmpty() && !why.contains(QLatin1Char('\n')));
    } else {
        // Sound: the same bytes come back (the reserved field is written as 0), and read again.
        const QByteArray out = store.toBytes();
        FUZZ_CHECK(out.size() == input.size());
        FUZZ_CHECK(out.left(10) == input.left(10) && out.mid(12) == input.mid(12));
        FUZZ_CHECK(out.size() <= PanelDataStore::maxFileBytes());
        PanelDataStore again(typeBefore);
        FUZZ_CHECK(again.fromBytes(out, nullptr) && again.toBytes() == out);
    }

    // Through the file: the same answer as from the bytes.
    PanelDataStore fromFile(typeBefore);
    const QString path = fuzzsupport::scratchFile("data.qpd", input);
    QString fileWhy;
    FUZZ_CHECK(fromFile.load(path, &fileWhy) == taken);
    FUZZ_CHECK(taken ? fromFile.toBytes() == store.toBytes() : fromFile.toBytes() == before);
    QFile::remove(path);
    return 0;
}
