// The settings file parser: any bytes as a settings file. What is taken comes back the same when
// written out and read again; what is refused leaves the settings as they were and gives one short
// line without control characters, whatever the file held (keys of any length, terminal escapes).
#include "FuzzSupport.h"

#include "FileHostSettings.h"

#include <QFile>
#include <QJsonDocument>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzzsupport::init();
    const QByteArray input = fuzzsupport::bytes(data, size);
    const QString path = fuzzsupport::scratchFile("settings.json", input);

    FileHostSettings settings;
    const QJsonObject defaults = settings.toJson();
    QString why;
    if (!settings.load(path, &why)) {
        FUZZ_CHECK(settings.toJson() == defaults);
        FUZZ_CHECK(!why.isEmpty());
        // The path, the reason and at most a short piece of what the file said.
        FUZZ_CHECK(why.size() <= path.size() + 1000);
        for (const QChar c : why)
            FUZZ_CHECK(c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() > 0x9F));
    } else {
        const QJsonObject json = settings.toJson();
        FileHostSettings again;
        QString againWhy;
        FUZZ_CHECK(again.fromJson(json, &againWhy));
        FUZZ_CHECK(again.toJson() == json);
        FUZZ_CHECK(settings.linkTypeIndex() >= 0);
    }
    QFile::remove(path);
    return 0;
}
