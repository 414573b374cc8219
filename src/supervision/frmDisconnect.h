// "End Session": the window of the end-session question (SessionClosing). OK (Enter) confirms,
// with the panel reset when "Reset Panel" is ticked; Cancel, Escape and the close box cancel.
#pragma once

#include <QDialog>
#include <QPointer>

#include <cstdint>

#include "supervision/SessionClosing.h"

class QCheckBox;
class QLabel;
class QPushButton;

class frmDisconnect : public QDialog
{
    Q_OBJECT
public:
    // Answers for `closing`; with none the window only hides on its buttons.
    explicit frmDisconnect(SessionClosing *closing, QWidget *parent = nullptr);
    ~frmDisconnect() override;

    QString Name() const { return QStringLiteral("frmDisconnect"); }
    SessionClosing *closing() const { return m_closing; }

    void cmdOK_Click();
    void cmdCancel_Click();

    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QCheckBox *chkPanelReset = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void buildWindow();

    QPointer<SessionClosing> m_closing;
};
