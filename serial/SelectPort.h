#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class ComSelectForm;
}
class QComboBox;

// The modal dialog that asks the operator for a serial port: it lists the ports COM1 to COM50
// that exist on this machine, free or held by another program, and hands back the chosen number.
class TComSelectForm : public QDialog {
    Q_OBJECT
public:
    // Modal results.
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;
    static constexpr int mrAbort = 3;

    explicit TComSelectForm(QWidget *parent = nullptr);
    ~TComSelectForm() override;

    // Shows the dialog modally: mrOk from OK or Enter, mrAbort from Cancel, mrCancel when it is
    // closed any other way.
    int ShowModal();
    // The number of the selected entry; raises EConvertError when it is not a number (no entry).
    int SelectedComNumber() const;
    QComboBox *PortsComboBox() const;

    // Whether port n exists on this machine, free, held by another program, or closed to this
    // user.
    static bool IsPortAvailable(int n);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormCreate();

    std::unique_ptr<Ui::ComSelectForm> ui_;
};
