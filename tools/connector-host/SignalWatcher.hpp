// connectorhost::SignalWatcher: the signals connector-host acts on, taken by one thread of its
// own with sigwait (they are blocked in every thread, so call blockSignals() before any thread
// starts):
//
//   SIGINT, SIGTERM  (with --http) a stop. The same signal again within REPEAT_WINDOW is the same
//                    stop delivered twice (timeout(1) signals a child and then its process group)
//                    and counts once; any other stop signal after the first is a second stop.
//   SIGHUP           reopen what `reopen` names (the access log, logrotate's convention); it
//                    never ends the host.
//
// Threads: waitForStop, onSecondStop and stoppedTwice from any thread; `reopen` and the second
// stop's action run on the watcher's thread. Errors: an exception of `reopen` is logged.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace connectorhost {

class SignalWatcher {
  public:
    static constexpr std::chrono::seconds REPEAT_WINDOW{1};

    // blockSignals: blocks every signal the watcher takes in the calling thread (and the threads
    // it starts later); `stops`: SIGINT and SIGTERM too.
    static void blockSignals(bool stops);

    SignalWatcher(bool stops, std::function<void()> reopen);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // waitForStop: blocks until the first stop signal; gives its number.
    int waitForStop();
    // onSecondStop: `action` runs once when a second stop comes (at once if one has come
    // already). Replacing it, with nullptr too, waits for an action under way to return, so that
    // whatever the action refers to may end once the call returns.
    void onSecondStop(std::function<void()> action);
    [[nodiscard]] bool stoppedTwice();

  private:
    void watch();
    void stopSignal(int number);
    void runSecondStopAction();  // with actionMutex held

    const bool stops;
    std::function<void()> reopen;
    std::mutex mutex;
    std::condition_variable stopped;
    std::optional<int> first;
    std::chrono::steady_clock::time_point firstAt;
    bool second = false;
    // The second stop's action, held and run under actionMutex (apart from `mutex`, which the
    // action may need: it may ask stoppedTwice).
    std::mutex actionMutex;
    std::function<void()> atSecond;
    bool secondActionRan = false;
    bool ending = false;
    std::thread watcher;
};

}  // namespace connectorhost
