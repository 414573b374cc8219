#include "core/GuidRegistry.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"

void GuidRegistry::add(const QString &key, std::shared_ptr<GuidObject> object)
{
    if (key.isEmpty() || !object)
        raiseError(ErrorCode::InvalidArgument, QStringLiteral("GuidRegistry: empty key or object"));
    if (m_items.contains(key))
        raiseError(ErrorCode::AlreadyExists, QStringLiteral("GuidRegistry: key %1 exists").arg(key));
    m_items.insert(key, std::move(object));
}

void GuidRegistry::addUnowned(const QString &key, GuidObject *object)
{
    add(key, std::shared_ptr<GuidObject>(object, [](GuidObject *) {}));
}

std::shared_ptr<GuidObject> GuidRegistry::get(const QString &key) const
{
    return m_items.value(key);
}

void GuidRegistry::remove(const QString &key)
{
    if (m_items.remove(key) == 0)
        raiseError(ErrorCode::InvalidArgument, QStringLiteral("GuidRegistry: no member %1").arg(key));
}
