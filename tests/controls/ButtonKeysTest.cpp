// Enter in a window with ButtonKeys: the focused command button is pressed, else the default
// button; widgets that use Enter themselves keep it; Escape stays the dialog's; a child window's
// keys stay in the child window.
#include <gtest/gtest.h>

#include "controls/ButtonKeys.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

namespace {

// A window like the product's: OK (default), Cancel and Apply with autoDefault off, a field, a
// check box, a picture button, and an editable text box that takes Enter for itself. Every click
// is written down by the button's name.
struct Window
{
    explicit Window(bool dialog)
    {
        if (dialog)
            widget = std::make_unique<QDialog>();
        else
            widget = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(widget.get());
        field = new QLineEdit(widget.get());
        check = new QCheckBox(QStringLiteral("Check"), widget.get());
        text = new QPlainTextEdit(widget.get());
        picture = new QToolButton(widget.get());
        picture->setObjectName(QStringLiteral("picture"));
        picture->setFocusPolicy(Qt::StrongFocus);
        layout->addWidget(field);
        layout->addWidget(check);
        layout->addWidget(text);
        layout->addWidget(picture);
        ok = button("ok");
        ok->setDefault(true);
        cancel = button("cancel");
        apply = button("apply");
        QObject::connect(picture, &QToolButton::clicked, [this] { clicks << QStringLiteral("picture"); });
        ButtonKeys::install(widget.get());
        widget->show();
    }

    QPushButton *button(const char *name)
    {
        auto *b = new QPushButton(QLatin1String(name), widget.get());
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        widget->layout()->addWidget(b);
        QObject::connect(b, &QPushButton::clicked, [this, b] { clicks << b->objectName(); });
        return b;
    }

    std::unique_ptr<QWidget> widget;
    QLineEdit *field;
    QCheckBox *check;
    QPlainTextEdit *text;
    QToolButton *picture;
    QPushButton *ok;
    QPushButton *cancel;
    QPushButton *apply;
    QStringList clicks;
};

} // namespace

TEST(ButtonKeys, EnterPressesTheFocusedButtonElseTheDefault)
{
    struct Case
    {
        const char *focus;
        Qt::Key key;
        const char *pressed; // "" for none
    };
    const Case cases[] = {
        {"ok", Qt::Key_Return, "ok"},
        {"cancel", Qt::Key_Return, "cancel"},
        {"apply", Qt::Key_Enter, "apply"},
        {"picture", Qt::Key_Return, "picture"},
        {"field", Qt::Key_Return, "ok"},
        {"field", Qt::Key_Enter, "ok"},
        {"check", Qt::Key_Return, "ok"},
        {"text", Qt::Key_Return, ""}, // the text box takes its new line
        {"cancel", Qt::Key_Space, "cancel"},
        {"field", Qt::Key_Tab, ""},
    };
    for (const bool dialog : {true, false}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(dialog ? "dialog, " : "plain window, ") + c.focus + ", key " + std::to_string(c.key));
            Window w(dialog);
            QWidget *focus = w.widget->findChild<QWidget *>(QLatin1String(c.focus));
            if (!focus) {
                const std::map<std::string, QWidget *> plain = {{"field", w.field}, {"check", w.check}, {"text", w.text}};
                focus = plain.at(c.focus);
            }
            testsupport::pressKeyOn(focus, c.key);
            EXPECT_EQ(w.clicks.join(u','), QLatin1String(c.pressed));
        }
    }
}

TEST(ButtonKeys, KeysThatPressNothing)
{
    struct Case
    {
        const char *name;
        std::function<void(Window &)> act;
    };
    const Case cases[] = {
        {"disabled default", [](Window &w) {
             w.ok->setEnabled(false);
             testsupport::pressKeyOn(w.field);
         }},
        {"hidden default", [](Window &w) {
             w.ok->hide();
             testsupport::pressKeyOn(w.field);
         }},
        {"Shift+Return", [](Window &w) {
             w.field->setFocus();
             QTest::keyClick(w.field, Qt::Key_Return, Qt::ShiftModifier);
         }},
        {"Ctrl+Return", [](Window &w) {
             w.cancel->setFocus();
             QTest::keyClick(w.cancel, Qt::Key_Return, Qt::ControlModifier);
         }},
        {"held Enter repeating", [](Window &w) {
             w.cancel->setFocus();
             QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
             QApplication::sendEvent(w.cancel, &repeat);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Window w(true);
        c.act(w);
        EXPECT_TRUE(w.clicks.isEmpty()) << w.clicks.join(u',').toStdString();
    }
}

TEST(ButtonKeys, EscapeStaysTheDialogsAndInstallingTwiceClicksOnce)
{
    Window w(true);
    auto *dialog = static_cast<QDialog *>(w.widget.get());
    ButtonKeys::install(dialog);
    testsupport::pressKeyOn(w.apply);
    EXPECT_EQ(w.clicks, QStringList{QStringLiteral("apply")});
    ASSERT_TRUE(dialog->isVisible());
    testsupport::pressKeyOn(w.apply, Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(w.clicks, QStringList{QStringLiteral("apply")});
}

// A dialog opened from a window: its Enter presses its own default, never the parent's.
TEST(ButtonKeys, AChildWindowKeepsItsKeys)
{
    Window parent(false);
    auto *child = new QDialog(parent.widget.get());
    auto *field = new QLineEdit(child);
    auto *layout = new QVBoxLayout(child);
    layout->addWidget(field);
    ButtonKeys::install(child);
    child->show();
    testsupport::pressKeyOn(field);
    EXPECT_TRUE(parent.clicks.isEmpty());
    EXPECT_EQ(ButtonKeys::target(child), nullptr);
    EXPECT_EQ(ButtonKeys::target(parent.widget.get()), parent.ok);
}
