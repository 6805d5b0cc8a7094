#include "serial/SelectPort.h"

#include "base/Exception.h"
#include "serial/PortInventory.h"
#include "serial/SystemErrors.h"
#include "serial/Win32Dispatcher.h"
#include "ui_SelectPort.h"

#include <QKeyEvent>
#include <QPalette>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace {

constexpr int kHighestPort = 50;

// The framework's text-to-integer conversion: an optional sign and decimal digits.
int StrToInt(const std::string &text)
{
    const auto fail = [&text] { return EConvertError(FormatText("'%s' is not a valid integer value", text.c_str())); };
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        ++at;
    if (at == text.size())
        throw fail();
    for (std::size_t i = at; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw fail();
    }
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        throw fail();
    return static_cast<int>(value);
}

} // namespace

TComSelectForm::TComSelectForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::ComSelectForm>())
{
    ui_->setupUi(this);
    setFixedSize(220, 131);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    connect(ui_->OkBtn, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(ui_->AbortBtn, &QPushButton::clicked, this, [this] { done(mrAbort); });
    FormCreate();
}

TComSelectForm::~TComSelectForm() = default;

void TComSelectForm::FormCreate()
{
    for (int n = 1; n <= kHighestPort; ++n) {
        if (!IsPortAvailable(n))
            continue;
        ui_->PortsComboBox->addItem(QString::asprintf("COM%d", n));
        // The same words as `tamblo ports`: the operator can tell which entry is the USB adapter.
        if (const std::optional<PortDetails> port = InspectPort(n)) {
            ui_->PortsComboBox->setItemData(ui_->PortsComboBox->count() - 1,
                                            QString::fromLocal8Bit(DescribePort(*port).c_str()), Qt::ToolTipRole);
        }
    }
    ui_->PortsComboBox->setCurrentIndex(ui_->PortsComboBox->count() > 0 ? 0 : -1);
}

int TComSelectForm::ShowModal()
{
    const int result = exec();
    return result == mrOk || result == mrAbort ? result : mrCancel;
}

int TComSelectForm::SelectedComNumber() const
{
    const int index = ui_->PortsComboBox->currentIndex();
    const QString text = index >= 0 ? ui_->PortsComboBox->itemText(index) : QString();
    return StrToInt(text.mid(3, 255).toStdString());
}

QComboBox *TComSelectForm::PortsComboBox() const { return ui_->PortsComboBox; }

bool TComSelectForm::IsPortAvailable(int n)
{
    if (n == 0)
        return false;
    TWin32Dispatcher probe(nullptr);
    if (probe.DeviceOpen(FormatText("\\\\.\\COM%d", n), 64, 64) >= 0) {
        probe.DeviceClose();
        return true;
    }
    // The port exists, and another program holds it or this user may not open it: choosing
    // it then says which.
    const int error = probe.LastSystemError();
    return error == SystemError::AccessDenied || error == SystemError::InvalidAccess;
}

void TComSelectForm::keyPressEvent(QKeyEvent *event)
{
    // Neither button answers to Escape.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
