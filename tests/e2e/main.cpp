#include "app/TApplication.h"
#include "tests/e2e/RecorderHarness.h"

#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

namespace {

// A modal dialog that no test waits for fails the running test and is closed, instead of holding
// the test until its timeout.
void FailOnUnexpectedModals()
{
    using Clock = std::chrono::steady_clock;
    auto *watch = new QTimer(qApp);
    QObject::connect(watch, &QTimer::timeout, watch, [since = Clock::time_point()]() mutable {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (dialog == nullptr || ModalExpected()) {
            since = {};
            return;
        }
        // A box a test has taken may take a moment to go.
        if (since == Clock::time_point())
            since = Clock::now();
        if (Clock::now() - since < std::chrono::milliseconds(500))
            return;
        auto *box = qobject_cast<QMessageBox *>(dialog);
        ADD_FAILURE() << "an unexpected " << dialog->metaObject()->className() << " came up"
                      << (box ? ": " + box->text().toStdString() : std::string());
        dialog->reject();
        since = {};
    });
    watch->start(50);
}

} // namespace

// The program's own application object, so errors reach its error box as they do in the program.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    FailOnUnexpectedModals();
    return RUN_ALL_TESTS();
}
