#include "base/TerminationSignals.h"

#include <QMetaMethod>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGTSTP};
// The other signals that end a process by default without a core. Each is taken only where
// nobody else has: an ignored SIGPIPE, or a library's own handler, stays as it is.
constexpr int kOtherEndings[] = {SIGALRM, SIGVTALRM, SIGPROF, SIGPIPE, SIGIO, SIGPWR, SIGSTKFLT};

// The handler may only write to a descriptor; the rest happens in the event loop.
volatile std::sig_atomic_t writeEnd = -1;

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) {
        // A full pipe already holds a signal to read: nothing is lost by dropping this byte.
        [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (writeEnd >= 0)
        throw std::logic_error("only one TerminationSignals at a time");
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0)
        throw std::runtime_error("cannot create the signal pipe");
    writeEnd = fds_[0];
    notifier_ = std::make_unique<QSocketNotifier>(fds_[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPipe);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kSignals) {
        ::sigaction(signalNumber, &action, nullptr);
        taken_.push_back(signalNumber);
    }
    std::vector<int> others(std::begin(kOtherEndings), std::end(kOtherEndings));
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber)
        others.push_back(signalNumber);
    for (int signalNumber : others) {
        struct sigaction current = {};
        if (::sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            continue;
        ::sigaction(signalNumber, &action, nullptr);
        taken_.push_back(signalNumber);
    }
}

TerminationSignals::~TerminationSignals()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : taken_)
        ::sigaction(signalNumber, &action, nullptr);
    writeEnd = -1;
    notifier_.reset();
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void TerminationSignals::readPipe()
{
    unsigned char byte = 0;
    while (::read(fds_[1], &byte, 1) == 1) {
        if (byte == SIGTSTP) {
            if (isSignalConnected(QMetaMethod::fromSignal(&TerminationSignals::Suspending)))
                emit Suspending();
            else
                Suspend();
            continue;
        }
        if (received_ == 0)
            received_ = byte;
        emit Arrived(byte);
    }
}

void TerminationSignals::Suspend()
{
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    struct sigaction ours = {};
    // A Ctrl-Z that comes while the process stops stops it as usual, and fg continues it.
    ::sigaction(SIGTSTP, &standard, &ours);
    ::raise(SIGSTOP);
    ::sigaction(SIGTSTP, &ours, nullptr);
    emit Continued();
}
