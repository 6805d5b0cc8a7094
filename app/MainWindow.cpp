#include "app/MainWindow.h"

#include "app/StandInParts.h"
#include "base/ExceptionSink.h"

#include <QCloseEvent>

MainWindow::MainWindow(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Tamblo"));
    setFixedSize(403, 155);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    move(207, 111);

    standIns_ = std::make_unique<StandInParts>(this);
    form_ = std::make_unique<TForm1>(standIns_->Parts());

    void (TForm1::*clicks[6])() = {&TForm1::kwFlatBtn1Click, &TForm1::kwFlatBtn2Click,
                                    &TForm1::kwFlatBtn3Click, &TForm1::kwFlatBtn4Click,
                                    &TForm1::kwFlatBtn5Click, &TForm1::kwFlatBtn6Click};
    for (int i = 0; i < 6; ++i) {
        const auto handler = clicks[i];
        connect(standIns_->buttons[i], &QPushButton::clicked, this, [this, handler] { dispatch(handler); });
    }
    connect(&standIns_->timer, &QTimer::timeout, this, [this] { dispatch(&TForm1::Timer1Timer); });
}

MainWindow::~MainWindow() = default;

void MainWindow::Create() { dispatch(&TForm1::FormCreate); }

void MainWindow::closeEvent(QCloseEvent *event)
{
    dispatch(&TForm1::FormClose);
    event->accept();
}

void MainWindow::dispatch(void (TForm1::*handler)())
{
    try {
        (form_.get()->*handler)();
    } catch (const std::exception &error) {
        HandleApplicationException(error);
    }
}
