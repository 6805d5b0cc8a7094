#pragma once

#include "app/FormParts.h"
#include "app/TForm1.h"

#include <QWidget>
#include <functional>
#include <memory>

class StandInParts;

// The main window: owns the components and routes their events to the recording controller.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Runs FormCreate: the sound-card check comes before the window is shown.
    void Create();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Handlers run here; what they raise goes to the application's error box.
    void dispatch(void (TForm1::*handler)());

    std::unique_ptr<StandInParts> standIns_;
    std::unique_ptr<TForm1> form_;
};
