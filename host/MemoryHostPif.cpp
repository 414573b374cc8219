#include "MemoryHostPif.h"

namespace {

class MemoryItem : public HostPifItem
{
public:
    explicit MemoryItem(qint16 size) : m_size(size) {}
    qint16 SISize() const override { return m_size; }
    qint16 NofSubItems() const override { return 1; }

private:
    qint16 m_size;
};

} // namespace

std::shared_ptr<HostPifItem> MemoryHostPif::Item(const QString &key) const
{
    bool ok = false;
    const int item = key.toInt(&ok);
    const auto it = ok ? m_items.find(item) : m_items.end();
    if (it == m_items.end())
        return nullptr;
    return std::make_shared<MemoryItem>(static_cast<qint16>(qMin<qsizetype>(it->second.size(), 32767)));
}

void MemoryHostPif::read(QByteArray &buffer, qint32 location) const
{
    const auto it = m_items.find(location / 65536);
    if (it == m_items.end())
        return;
    const qsizetype start = location % 65536;
    for (qsizetype i = 0; i < buffer.size() && start + i < it->second.size(); ++i)
        buffer[i] = it->second.at(start + i);
}

void MemoryHostPif::write(const QByteArray &buffer, qint32 location)
{
    QByteArray &item = m_items[location / 65536];
    const qsizetype start = location % 65536;
    if (item.size() < start + buffer.size())
        item.resize(start + buffer.size(), '\0');
    item.replace(start, buffer.size(), buffer);
}
