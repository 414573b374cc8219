// Owner objects keyed by their 38-character GUID text. Windows, panel command objects and queued
// message records register here; answers find their owner through it.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

class clsMessage;

// Every member of the registry exposes its GUID text.
class GuidObject
{
public:
    virtual ~GuidObject() = default;
    virtual QString szGUID() const = 0;
    virtual void setSzGUID(const QString &guid) = 0;
};

// Plain storage of the GUID for classes that need nothing more.
class GuidObjectBase : public GuidObject
{
public:
    QString szGUID() const override { return m_szGUID; }
    void setSzGUID(const QString &guid) override { m_szGUID = guid; }

private:
    QString m_szGUID;
};

// Owners that take answers: the queue calls ResponseReceived(message) on the object registered
// under the message's owner GUID.
class ResponseReceiver
{
public:
    virtual ~ResponseReceiver() = default;
    virtual void ResponseReceived(clsMessage &msg) = 0;
};

class GuidRegistry
{
public:
    // Adds `object` under `key`, keeping it alive while registered. An existing key is an error.
    void add(const QString &key, std::shared_ptr<GuidObject> object);
    // Adds an object whose lifetime is managed elsewhere (windows); it must remove itself before it
    // is destroyed.
    void addUnowned(const QString &key, GuidObject *object);
    // The member under `key`, or none.
    std::shared_ptr<GuidObject> get(const QString &key) const;
    // Removes the member; a missing key throws QuarvoError(ErrorCode::InvalidArgument).
    void remove(const QString &key);
    bool contains(const QString &key) const { return m_items.contains(key); }
    int size() const { return m_items.size(); }
    QStringList keys() const { return m_items.keys(); }
    void clear() { m_items.clear(); }

private:
    QHash<QString, std::shared_ptr<GuidObject>> m_items;
};
