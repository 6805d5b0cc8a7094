#include "app/TApplication.h"
#include "base/Exception.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <new>

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
    explicit Failing(std::function<void()> fail) : fail_(std::move(fail)) {}
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            fail_();
        return QObject::event(event);
    }

private:
    std::function<void()> fail_;
};

// Sends the failing event and reads the error box it brings up, closing it with OK.
QString ErrorBoxShownFor(std::function<void()> fail)
{
    QString text;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    Failing failing(std::move(fail));
    QEvent event(QEvent::User);
    QApplication::sendEvent(&failing, &event);
    return text;
}

TEST(TopLevelHandler, MemoryRunningOutShowsOutOfMemory)
{
    EXPECT_EQ(ErrorBoxShownFor([] { throw std::bad_alloc(); }), QStringLiteral("Out of memory."));
}

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

    Failing failing([] { throw Exception("ie_Open - device already open"); });
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
