#include "tests/e2e/RecorderHarness.h"

#include "app/TLabel.h"
#include "controls/kwFltBtn.h"
#include "serial/SelectPort.h"
#include "ui_TForm1.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <sndfile.h>
#include <vector>

using Clock = std::chrono::steady_clock;

void ExpectModal(std::function<bool(QWidget *)> action, int timeoutMs)
{
    auto *poll = new QTimer(qApp);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action = std::move(action), deadline] {
        QWidget *modal = QApplication::activeModalWidget();
        if ((modal && modal->isVisible() && action(modal)) || Clock::now() > deadline)
            poll->deleteLater();
    });
    poll->start(5);
}

RecorderHarness::RecorderHarness(Audio audio) : audio_(audio) {}

RecorderHarness::~RecorderHarness()
{
    window_.reset();
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("PULSE_SERVER");
}

bool RecorderHarness::Start(QString *error)
{
    if (!device_.Start(error))
        return false;
    setenv("TAMBLO_PORTS", device_.PortsDirectory().toLocal8Bit().constData(), 1);
    if (audio_ == Audio::Sink) {
        std::string reason;
        if (!sink_.Start(&reason)) {
            *error = QString::fromStdString(reason);
            return false;
        }
        sink_.UseForSdl();
    } else {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", AudioFile().toLocal8Bit().constData(), 1);
    }
    window_ = std::make_unique<MainWindow>();
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) {
        *error = QStringLiteral("the window was not shown");
        return false;
    }
    return true;
}

QString RecorderHarness::MakeToneWav(const QString &name, int milliseconds, int rate)
{
    const QString path = scratch_.filePath(name);
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!file)
        return {};
    const qint64 frames = qint64(rate) * milliseconds / 1000;
    std::vector<short> samples(static_cast<size_t>(frames));
    for (qint64 i = 0; i < frames; ++i) {
        // Offset by half a step, and odd, so that no sample is zero: every frame counts as sound.
        const double phase = 2 * M_PI * 440.0 * (double(i) + 0.5) / rate;
        samples[static_cast<size_t>(i)] = short(std::lround(8000 * std::sin(phase)) | 1);
    }
    const bool written = sf_writef_short(file, samples.data(), frames) == frames;
    sf_close(file);
    return written ? path : QString();
}

bool RecorderHarness::LoadThroughLabel(const QString &path)
{
    bool answered = false;
    ExpectModal([&answered, path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        auto *edit = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!edit)
            return false;
        auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QPushButton *open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
        if (!open)
            return false;
        // Paste the path, then press Open. (Typed keys would raise the completer's pop-up,
        // which takes the next click for itself.)
        edit->setFocus();
        edit->setText(path);
        if (!open->isEnabled())
            return false;
        QTest::mouseClick(open, Qt::LeftButton);
        answered = true;
        return true;
    });
    QTest::mouseClick(Window().Form().Fname, Qt::LeftButton);
    return answered && Window().Form().Fname->Caption() == path;
}

void RecorderHarness::Click(QWidget *button, bool portDialog)
{
    if (portDialog) {
        ExpectModal([this](QWidget *modal) {
            auto *form = qobject_cast<TComSelectForm *>(modal);
            if (!form)
                return false;
            QComboBox *ports = form->PortsComboBox();
            ports->setCurrentIndex(ports->findText(QStringLiteral("COM1")));
            QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("OkBtn")), Qt::LeftButton);
            ++portDialogs_;
            return true;
        });
    }
    QTest::mouseClick(button, Qt::LeftButton);
}

std::pair<qint64, qint64> RecorderHarness::SoundFrames(const QString &rawFile, int channels)
{
    QFile file(rawFile);
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0};
    const QByteArray bytes = file.readAll();
    const auto *samples = reinterpret_cast<const float *>(bytes.constData());
    const qint64 frames = bytes.size() / qint64(sizeof(float)) / channels;
    qint64 sounding = 0;
    for (qint64 f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            if (std::fabs(samples[f * channels + c]) > 1e-4f) {
                ++sounding;
                break;
            }
        }
    }
    return {sounding, frames};
}
