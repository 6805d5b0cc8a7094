#include "tests/e2e/RecorderHarness.h"

#include "tests/media/MediaFixtures.h"

#include "app/TLabel.h"
#include "controls/kwFltBtn.h"
#include "serial/PortLock.h"
#include "serial/SelectPort.h"
#include "ui_TForm1.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A sink sample above this counts as sound (-60 dBFS): a null sink's silence is exact zeros, and
// the quietest test sound (a MIDI note, about 1000) is 30 times louder.
constexpr int kSoundThreshold = 32;

} // namespace

double HeardRecording::LeadInMs() const { return Ms(sound - start); }
double HeardRecording::TailMs() const { return Ms(stop - soundEnd); }
double HeardRecording::StopAfterSoundMs() const { return Ms(stop - sound); }
double HeardRecording::HeardMs() const { return double(last + 1 - first) * 1000.0 / SoundSink::Rate; }

namespace {
int modalsExpected = 0;
}

void ExpectModal(std::function<bool(QWidget *)> action, int timeoutMs)
{
    auto *poll = new QTimer(qApp);
    ++modalsExpected;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action = std::move(action), deadline] {
        QWidget *modal = QApplication::activeModalWidget();
        if ((modal && modal->isVisible() && action(modal)) || Clock::now() > deadline) {
            --modalsExpected;
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(5);
}

bool ModalExpected() { return modalsExpected > 0; }

void ExpectMessageBox(QString *shown, int timeoutMs)
{
    ExpectModal(
        [shown](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box)
                return false;
            *shown = box->text();
            box->button(QMessageBox::Ok)->click();
            return true;
        },
        timeoutMs);
}

RecorderHarness::RecorderHarness(Audio audio, SoundSink::Options sinkOptions) : audio_(audio), sinkOptions_(sinkOptions)
{}

RecorderHarness::~RecorderHarness()
{
    window_.reset();
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("PULSE_SERVER");
    unsetenv("XDG_STATE_HOME");
}

bool RecorderHarness::Start(QString *error)
{
    if (!device_.Start(error))
        return false;
    setenv("TAMBLO_PORTS", device_.PortsDirectory().toLocal8Bit().constData(), 1);
    // The window's recordings go into a history of the harness's own.
    setenv("XDG_STATE_HOME", scratch_.filePath(QStringLiteral("state")).toLocal8Bit().constData(), 1);
    PortLock::SetDirectory(PrivateLockDirectory().toStdString());
    if (audio_ == Audio::Sink) {
        std::string reason;
        if (!sink_.Start(&reason, sinkOptions_)) {
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
    try {
        WriteToneWave(path.toStdString(), rate, std::int64_t(rate) * milliseconds / 1000);
    } catch (const std::exception &) {
        return {};
    }
    return path;
}

QString RecorderHarness::MakeToneMp3(const QString &name, int milliseconds, int rate)
{
    const QString wave = MakeToneWav(name + QStringLiteral(".wav"), milliseconds, rate);
    const QString path = scratch_.filePath(name);
    if (wave.isEmpty())
        return {};
    try {
        EncodeMp3(wave.toStdString(), path.toStdString(), true);
    } catch (const std::exception &) {
        return {};
    }
    return path;
}

QString RecorderHarness::MakeHeldNoteSong(const QString &name, int milliseconds, bool rmi)
{
    // 480 ticks per quarter note of 500 ms: 25 ms are 24 ticks.
    const auto ticks = std::uint32_t(milliseconds / 25 * 24);
    const std::vector<std::uint8_t> song = MidiFileBytes(
        0, 480,
        {MidiTrack({Tempo(0, 500000), {0, {0xC0, 80}}, {0, {0x90, 84, 100}}, {ticks, {0x80, 84, 0}}, EndOfTrack(0)})});
    const QString path = scratch_.filePath(name);
    WriteBytes(path.toStdString(), rmi ? RmiBytes(song) : song);
    return path;
}

std::optional<HeardRecording> RecorderHarness::Heard(std::int64_t from, const QString &recordCommand, QString *error)
{
    const QStringList commands = device_.Commands();
    const auto start = device_.Arrival(recordCommand, int(commands.count(recordCommand)));
    const auto stop = device_.Arrival(QStringLiteral("REC"), int(commands.count(QStringLiteral("REC"))));
    if (!start || !stop) {
        *error = QStringLiteral("the device did not get %1 and REC").arg(recordCommand);
        return std::nullopt;
    }
    if (!sink_.WaitUntilCaptured(*stop + std::chrono::milliseconds(300), std::chrono::seconds(5))) {
        *error = QStringLiteral("the capture did not get past the recording's end");
        return std::nullopt;
    }
    const auto first = sink_.FirstSound(kSoundThreshold, from);
    if (!first) {
        *error = QStringLiteral("no sound reached the sink");
        return std::nullopt;
    }
    HeardRecording heard;
    heard.first = *first;
    heard.last = sink_.LastSound(kSoundThreshold, *first).value_or(*first);
    heard.sound = sink_.FrameTime(heard.first);
    heard.soundEnd = sink_.FrameTime(heard.last + 1);
    heard.start = *start;
    heard.stop = *stop;
    return heard;
}

SoundEnding RecorderHarness::EndingOf(const HeardRecording &heard) const
{
    const std::vector<std::int16_t> samples = sink_.Samples();
    const std::int64_t end = std::min<std::int64_t>(heard.last + 1, std::int64_t(samples.size()));
    const auto level = [&](double fromMs, double toMs) {
        const std::int64_t a = std::max<std::int64_t>(0, end - std::int64_t(fromMs * SoundSink::Rate / 1000));
        const std::int64_t b = std::max<std::int64_t>(a + 1, end - std::int64_t(toMs * SoundSink::Rate / 1000));
        double sum = 0;
        for (std::int64_t i = a; i < b; ++i)
            sum += double(samples[std::size_t(i)]) * samples[std::size_t(i)];
        return std::sqrt(sum / double(b - a));
    };
    return {level(25, 5), level(5, 2.5), level(2.5, 0), level(1, 0)};
}

bool RecorderHarness::LoadThroughLabel(const QString &path, QWidget *opener)
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
    QTest::mouseClick(opener ? opener : Window().Form().Fname, Qt::LeftButton);
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
