#include "tools/connector-host/SignalWatcher.hpp"

#include <pthread.h>
#include <signal.h>

#include <exception>
#include <string>

#include "tools/connector-host/core/HostLog.hpp"

namespace connectorhost {
namespace {

// SIGUSR1 wakes the watcher when it is to end (one sent from outside is ignored).
sigset_t watchedSignals(bool stops) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR1);
    if (stops) {
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
    }
    return signals;
}

}  // namespace

void SignalWatcher::blockSignals(bool stops) {
    const sigset_t signals = watchedSignals(stops);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

SignalWatcher::SignalWatcher(bool stops, std::function<void()> reopen)
    : stops(stops), reopen(std::move(reopen)), watcher([this] { watch(); }) {}

SignalWatcher::~SignalWatcher() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
}

void SignalWatcher::watch() {
    const sigset_t signals = watchedSignals(stops);
    for (;;) {
        int number = 0;
        if (sigwait(&signals, &number) != 0) continue;
        if (number == SIGUSR1) {
            std::lock_guard<std::mutex> lock(mutex);
            if (ending) return;
            continue;
        }
        if (number != SIGHUP) {
            stopSignal(number);
            continue;
        }
        try {
            if (reopen) reopen();
        } catch (const std::exception& error) {
            logLine(log_level::ERROR, std::string("reopening on SIGHUP failed: ") + error.what());
        }
    }
}

void SignalWatcher::stopSignal(int number) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = std::chrono::steady_clock::now();
        if (!first) {
            first = number;
            firstAt = now;
            stopped.notify_all();
            return;
        }
        if (second || (number == *first && now - firstAt < REPEAT_WINDOW)) return;
        second = true;
    }
    logLine(log_level::WARNING, "stopping at once on a second signal " + std::to_string(number));
    std::lock_guard<std::mutex> hold(actionMutex);
    runSecondStopAction();
}

void SignalWatcher::runSecondStopAction() {
    if (!atSecond || secondActionRan) return;
    secondActionRan = true;
    atSecond();
}

int SignalWatcher::waitForStop() {
    std::unique_lock<std::mutex> lock(mutex);
    stopped.wait(lock, [this] { return first.has_value(); });
    return *first;
}

void SignalWatcher::onSecondStop(std::function<void()> action) {
    std::lock_guard<std::mutex> hold(actionMutex);
    atSecond = std::move(action);
    if (stoppedTwice()) runSecondStopAction();
}

bool SignalWatcher::stoppedTwice() {
    std::lock_guard<std::mutex> lock(mutex);
    return second;
}

}  // namespace connectorhost
