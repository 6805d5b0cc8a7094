#include "app/TApplication.h"
#include "base/Exception.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(ErrorBoxText, AppendsAFullStopOnlyAfterCharactersSortingAfterIt)
{
    EXPECT_EQ(ErrorBoxText("ie_BadId - Specified comport doesn't exist"),
              QStringLiteral("ie_BadId - Specified comport doesn't exist."));
    EXPECT_EQ(ErrorBoxText("Done."), QStringLiteral("Done."));
    EXPECT_EQ(ErrorBoxText("Invalid parameter. "), QStringLiteral("Invalid parameter. "));
    EXPECT_EQ(ErrorBoxText("(see above)"), QStringLiteral("(see above)"));
    EXPECT_EQ(ErrorBoxText("File not found!"), QStringLiteral("File not found!"));
    EXPECT_EQ(ErrorBoxText("42"), QStringLiteral("42."));
    EXPECT_EQ(ErrorBoxText("a/b"), QStringLiteral("a/b."));
    EXPECT_EQ(ErrorBoxText(""), QString());
}

// An object whose event handler fails, as a handler of the window does when a command fails.
class Failing : public QObject {
public:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            throw Exception("ie_Open - device already open");
        return QObject::event(event);
    }
};

TEST(TopLevelHandler, ShowsTheErrorBoxAndGoesOn)
{
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    // Read the box as the operator would see it, then close it with OK.
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });

    Failing failing;
    QEvent event(QEvent::User);
    QApplication::sendEvent(&failing, &event);

    EXPECT_EQ(caption, QStringLiteral("Tamblo"));
    EXPECT_EQ(text, QStringLiteral("ie_Open - device already open."));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    // The program goes on: the next event is handled normally.
    QEvent other(QEvent::None);
    EXPECT_NO_THROW(QApplication::sendEvent(&failing, &other));
}

} // namespace
