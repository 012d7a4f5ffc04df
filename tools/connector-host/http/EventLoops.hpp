// connectorhost::EventLoops: the event loops that serve HTTP connections. Each loop is an
// io_context with a thread of its own; a connection lives on one loop (the one with the fewest
// connections when it opened), so that its request is read, processed and answered on one thread
// and no other thread is woken for it. After a handler, a loop's thread keeps looking for work
// for a moment (SPIN, yielding the CPU between looks) before it sleeps: waking a sleeping thread
// costs tens of microseconds on a virtual machine, and a client usually sends its next request
// within that moment.
//
// A request may block its thread while it is processed (a host evaluation can take seconds).
// Processing marks the thread (Processing); when every thread running a loop has been processing
// for STALL_AFTER, a helper thread joins that loop until one of them is back, so that the loop's
// other connections go on. At most maxHelpers helpers run at once.
//
//   EventLoops loops(2, 4);
//   loops.start();
//   net::io_context& loop = loops.pick();                 // for a new connection
//   loops.add(loop);  /* ...served on `loop`... */  loops.release(loop);
//   { EventLoops::Processing processing; /* may block */ }
//   loops.stop(); loops.join(); loops.drain();
//
// Threads: pick, add, release, Processing and stop may be used from any thread; start, join and
// drain from the owner's. Errors: a handler that throws is logged and its loop goes on (throttled
// log lines).
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/connector-host/core/HostLog.hpp"

namespace connectorhost {

struct EventLoop;

class EventLoops {
  public:
    static constexpr std::chrono::microseconds SPIN{50};
    static constexpr std::chrono::milliseconds STALL_AFTER{2};

    EventLoops(std::size_t count, std::size_t maxHelpers);
    ~EventLoops();
    EventLoops(const EventLoops&) = delete;
    EventLoops& operator=(const EventLoops&) = delete;

    void start();
    // pick: the loop for a new connection, the one with the fewest; add counts an opened
    // connection against its loop (the watcher runs only while some are open), release when it
    // has closed.
    [[nodiscard]] boost::asio::io_context& pick();
    void add(boost::asio::io_context& context);
    void release(boost::asio::io_context& context) noexcept;
    // stop: every loop ends once its current handlers return; join waits for their threads;
    // drain then runs (once) what was posted to them after they ended, so that it is released.
    void stop();
    void join();
    void drain();

    // Processing: while it lives, the calling loop thread counts as processing a request.
    class Processing {
      public:
        Processing() noexcept;
        ~Processing();
        Processing(const Processing&) = delete;
        Processing& operator=(const Processing&) = delete;

      private:
        EventLoop* loop;
    };

  private:
    void runOwner(EventLoop& loop);
    void runHelper();
    void helpWhileStalled(EventLoop& loop);
    void watch();
    void lendHelpers(std::chrono::steady_clock::time_point now);
    [[nodiscard]] bool anyConnection() const noexcept;
    void runHandlers(EventLoop& loop, bool owner);

    std::vector<std::unique_ptr<struct EventLoop>> loops;
    const std::size_t maxHelpers;
    std::atomic<bool> stopping{false};
    std::mutex mutex;  // guards the two conditions and the helpers below
    std::condition_variable watcherWake;
    std::condition_variable helperWake;
    std::vector<EventLoop*> stalled;  // loops waiting for a helper
    std::size_t idleHelpers = 0;
    std::vector<std::thread> helperThreads;
    std::vector<std::thread> threads;  // the owners, then the watcher
    LogThrottle failures{log_level::ERROR, std::chrono::seconds(1)};
};

}  // namespace connectorhost
