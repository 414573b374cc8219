// The host-facing interface of the component, operations in their interface order. A result is a
// 32-bit signed number: 0, or the number of the error that stopped the operation. No operation
// lets an error reach the host.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

class HostCallback;
class HostPif;
class HostSettings;
class QObject;

class IZelComm
{
public:
    virtual ~IZelComm() = default;

    virtual QString Name() const = 0;                                        // 1
    virtual void setName(const QString &name) = 0;                           // 2
    virtual QString Description() const = 0;                                 // 3
    virtual void setDescription(const QString &description) = 0;             // 4
    virtual std::shared_ptr<HostPif> Pif() const = 0;                        // 5
    virtual void setPif(std::shared_ptr<HostPif> pif) = 0;                   // 6
    virtual std::shared_ptr<HostSettings> Settings() const = 0;              // 7
    virtual void setSettings(std::shared_ptr<HostSettings> settings) = 0;    // 8
    virtual QObject *CommControl() const = 0;                                // 9
    virtual void setCommControl(QObject *control) = 0;                       // 10
    virtual std::int32_t CommStartup() = 0;                                  // 11
    virtual std::int32_t CommShutdown(bool &Force) = 0;                      // 12
    virtual std::int32_t DiagStartup() = 0;                                  // 13
    virtual void SetCallBack(std::shared_ptr<HostCallback> &Callback) = 0;   // 14
    virtual std::int32_t CommSendReceive() = 0;                              // 15
    virtual std::int32_t HistoryStartup() = 0;                               // 16
    virtual std::int32_t DoUnattended(std::int32_t &JobMask) = 0;            // 17
    virtual void DataArrival(QByteArray &Data) = 0;                          // 18
};
