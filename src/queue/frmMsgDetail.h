// "Message Details": one message of the queue console and the command that produced it. The value
// labels hold the full texts (cut on screen); a "?" beside a field shows its full text in the text
// box, in lines of at most 56 characters, and a second click empties the box again. When the
// command has gone (its exchange ended), Description, Tamsel Data and Date say so; a message that
// is no longer registered leaves every value empty.
#pragma once

#include <QWidget>

#include <array>

class QLabel;
class QPlainTextEdit;
class QPushButton;

class frmMsgDetail : public QWidget
{
    Q_OBJECT
public:
    explicit frmMsgDetail(QWidget *parent = nullptr);

    // Fills the value labels from the message registered under `guid`.
    void ShowMessage(const QString &guid);

    // The text broken into lines of at most `width` characters.
    static QString wrapLines(const QString &text, int width = 56);

    void cmdClose_Click();

    QLabel *lblID = nullptr;
    QLabel *lblPriority = nullptr;
    QLabel *lblName = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *lblOwner = nullptr;
    QLabel *lblTamselData = nullptr;
    QLabel *lblPanelData = nullptr;
    QLabel *lblTimeStamp = nullptr;
    QPushButton *cmdName = nullptr;
    QPushButton *cmdDescription = nullptr;
    QPushButton *cmdOwner = nullptr;
    QPushButton *cmdTamselData = nullptr;
    QPushButton *cmdPanelData = nullptr;
    QPlainTextEdit *txtDetails = nullptr;
    QPushButton *cmdClose = nullptr;

private:
    struct Toggle
    {
        QPushButton *button;
        QLabel *field;
        bool expanded;
    };
    void toggle(Toggle &which);
    void clearValues();

    std::array<Toggle, 5> m_toggles{};
};
