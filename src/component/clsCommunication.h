// The component's one public class: keeps what the host hands over in SessionState and starts the
// session workflows. Creating an instance loads the configuration.
#pragma once

#include "component/IZelComm.h"

class clsCommunication : public IZelComm
{
public:
    clsCommunication();
    ~clsCommunication() override;

    QString Name() const override;
    void setName(const QString &name) override;
    QString Description() const override;
    void setDescription(const QString &description) override;
    std::shared_ptr<HostPif> Pif() const override;
    void setPif(std::shared_ptr<HostPif> pif) override;
    std::shared_ptr<HostSettings> Settings() const override;
    void setSettings(std::shared_ptr<HostSettings> settings) override;
    QObject *CommControl() const override;
    void setCommControl(QObject *control) override;
    std::int32_t CommStartup() override;
    std::int32_t CommShutdown(bool &Force) override;
    std::int32_t DiagStartup() override;
    void SetCallBack(std::shared_ptr<HostCallback> &Callback) override;
    std::int32_t CommSendReceive() override;
    std::int32_t HistoryStartup() override;
    std::int32_t DoUnattended(std::int32_t &JobMask) override;
    void DataArrival(QByteArray &Data) override;

    std::int32_t jobMask() const { return m_jobMask; }

private:
    std::int32_t m_jobMask = 0;
};
