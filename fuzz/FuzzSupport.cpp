#include "FuzzSupport.h"

#include "FileHostSettings.h"
#include "PanelDataStore.h"
#include "core/GuidRegistry.h"
#include "core/SessionState.h"
#include "external/CipherLib.h"
#include "link/modToolbox.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

QString linkKey()
{
    return QStringLiteral("Quarvo-fuzz-link-key-32-chars-ok");
}

void fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "FUZZ_CHECK failed: %s at %s:%d\n", what, file, line);
    std::abort();
}

namespace {

QString &privateFolder()
{
    static QString path;
    return path;
}

} // namespace

QString scratchFile(const char *name, const QByteArray &bytes)
{
    const QString path = privateFolder() + QLatin1Char('/') + QString::fromLatin1(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail("the scratch file cannot be written", __FILE__, __LINE__);
    return path;
}

void init()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    static int argc = 1;
    static char name[] = "quarvo-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    // Files the component might write go to a private folder that goes with the process.
    static QTemporaryDir folder;
    privateFolder() = folder.path();
    qputenv("QUARVO_LOG_DIR", folder.path().toLocal8Bit());
    qputenv("QUARVO_SETTINGS_DIR", folder.path().toLocal8Bit());
    CipherLib::initialize();

    // The session as a connected host leaves it; no error reporter, so reports cost nothing.
    SessionState &state = sessionState();
    auto settings = std::make_shared<FileHostSettings>();
    QJsonObject json = settings->toJson();
    json.insert(QStringLiteral("LinkKey"), linkKey());
    settings->fromJson(json);
    state.hostSettings = settings;
    // Panel data for every item, so that CRC comparisons and block inserts have something to
    // compare with and write into.
    auto pif = std::make_shared<PanelDataStore>(settings->PanelType());
    QVector<std::int16_t> itemOf, startOf, blockLen, blockCount;
    modToolbox::GetItemMap(itemOf, startOf, blockLen, blockCount);
    for (int e = 0; e < blockLen.size(); ++e)
        pif->write(QByteArray(blockLen.at(e), static_cast<char>(e)), pif->locate(itemOf.at(e), startOf.at(e)));
    state.hostPif = pif;
    state.guidRegistry = std::make_unique<GuidRegistry>();
}

} // namespace fuzzsupport
