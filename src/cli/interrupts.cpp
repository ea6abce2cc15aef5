#include "interrupts.h"

#include <atomic>
#include <csignal>

#include <unistd.h>

#include "carving/savecarved.h"

namespace {

std::atomic<bool> stopFlag{false};

// Only async-signal-safe calls below: atomics, write, unlink, signal, raise.
void endNow(int signalNumber)
{
    removeUnfinishedSave();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void onInterrupt(int signalNumber)
{
    if (stopFlag.exchange(true)) {
        endNow(signalNumber);
        return;
    }
    static const char notice[] = "\nStopping... (Ctrl-C again to quit at once)\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, notice, sizeof notice - 1);
}

} // namespace

void installInterruptHandlers(bool saving)
{
    std::signal(SIGINT, onInterrupt);
    for (const int signalNumber : {SIGTERM, SIGHUP})
        std::signal(signalNumber, endNow);
    std::signal(SIGPIPE, saving ? SIG_IGN : endNow);
}

bool stopRequested()
{
    return stopFlag.load();
}
