#include "tools/connector-host/http/AsioSupport.hpp"

#include "tools/connector-host/http/EventLoops.hpp"

#include <algorithm>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/steady_timer.hpp>
#include <optional>

namespace connectorhost {

using Clock = std::chrono::steady_clock;

struct EventLoop {
    // More than one thread may run it (the owner and its helpers): the hint says so.
    net::io_context context{2};
    std::optional<net::executor_work_guard<net::io_context::executor_type>> keepRunning{
        context.get_executor()};
    std::atomic<std::size_t> connections{0};
    std::atomic<int> running{0};       // threads running it now
    std::atomic<int> processing{0};    // of them, those processing a request
    Clock::time_point stalledSince{};  // the watcher's own: when it first saw every thread busy
};

namespace {

thread_local EventLoop* currentLoop = nullptr;

// Marks the calling thread as running `loop` while it lives.
class Running {
  public:
    explicit Running(EventLoop& loop) : loop(loop), outer(currentLoop) {
        currentLoop = &loop;
        ++loop.running;
    }
    ~Running() {
        --loop.running;
        currentLoop = outer;
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

  private:
    EventLoop& loop;
    EventLoop* outer;
};

}  // namespace

EventLoops::EventLoops(std::size_t count, std::size_t maxHelpers) : maxHelpers(maxHelpers) {
    for (std::size_t i = 0; i < std::max<std::size_t>(1, count); ++i) {
        loops.push_back(std::make_unique<EventLoop>());
        // Asio makes a loop's reactor (three descriptors) on first use; made now, the process's
        // descriptors stay level from the start instead of growing with the first connections.
        net::steady_timer(loops.back()->context).cancel();
    }
}

EventLoops::~EventLoops() {
    stop();
    join();
}

void EventLoops::start() {
    for (auto& loop : loops) threads.emplace_back([this, &loop] { runOwner(*loop); });
    threads.emplace_back([this] { watch(); });
}

net::io_context& EventLoops::pick() {
    EventLoop* fewest = loops.front().get();
    for (auto& loop : loops)
        if (loop->connections < fewest->connections) fewest = loop.get();
    return fewest->context;
}

void EventLoops::add(net::io_context& context) {
    {
        // Under the watcher's mutex, so that it cannot miss the first connection.
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& loop : loops)
            if (&loop->context == &context) ++loop->connections;
    }
    watcherWake.notify_one();  // the watcher sleeps while no connection is open
}

void EventLoops::release(net::io_context& context) noexcept {
    for (auto& loop : loops)
        if (&loop->context == &context) --loop->connections;
}

bool EventLoops::anyConnection() const noexcept {
    return std::any_of(loops.begin(), loops.end(),
                       [](const auto& loop) { return loop->connections > 0; });
}

void EventLoops::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping.exchange(true)) return;
    }
    for (auto& loop : loops) {
        loop->keepRunning.reset();
        loop->context.stop();
    }
    watcherWake.notify_all();
    helperWake.notify_all();
}

void EventLoops::join() {
    for (std::thread& thread : threads)
        if (thread.joinable()) thread.join();
    std::vector<std::thread> helpers;
    {
        std::lock_guard<std::mutex> lock(mutex);
        helpers.swap(helperThreads);
    }
    for (std::thread& thread : helpers)
        if (thread.joinable()) thread.join();
}

void EventLoops::drain() {
    for (auto& loop : loops) {
        loop->context.restart();
        loop->context.poll();
    }
}

EventLoops::Processing::Processing() noexcept : loop(currentLoop) {
    if (loop) ++loop->processing;
}

EventLoops::Processing::~Processing() {
    if (loop) --loop->processing;
}

// Handlers, one at a time; the owner looks for more for a moment before it sleeps.
void EventLoops::runHandlers(EventLoop& loop, bool owner) {
    net::io_context& context = loop.context;
    if (!owner) {
        context.run_one_for(std::chrono::milliseconds(1));
        return;
    }
    if (context.poll_one() > 0) return;
    // Giving the CPU away between looks lets a client on the same CPU send its next request.
    for (const auto until = Clock::now() + SPIN; Clock::now() < until;) {
        if (context.poll_one() > 0) return;
        std::this_thread::yield();
    }
    context.run_one();
}

void EventLoops::runOwner(EventLoop& loop) {
    Running running(loop);
    while (!loop.context.stopped()) {
        try {
            runHandlers(loop, true);
        } catch (const std::exception& error) {  // a handler let one through: go on serving
            failures.log(std::string("an event loop caught: ") + error.what());
        } catch (...) {
            failures.log("an event loop caught an exception of unknown type");
        }
    }
}

// A helper stays while every other thread of the loop is processing.
void EventLoops::helpWhileStalled(EventLoop& loop) {
    Running running(loop);
    while (!stopping && loop.processing >= loop.running - 1) {
        try {
            runHandlers(loop, false);
        } catch (const std::exception& error) {
            failures.log(std::string("an event loop caught: ") + error.what());
        } catch (...) {
            failures.log("an event loop caught an exception of unknown type");
        }
    }
}

void EventLoops::runHelper() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        ++idleHelpers;
        helperWake.wait(lock, [this] { return stopping || !stalled.empty(); });
        --idleHelpers;
        if (stopping) return;
        EventLoop* loop = stalled.back();
        stalled.pop_back();
        lock.unlock();
        helpWhileStalled(*loop);
        lock.lock();
    }
}

// Looks at the loops every STALL_AFTER while connections are open; sleeps otherwise.
void EventLoops::watch() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        if (anyConnection())
            watcherWake.wait_for(lock, STALL_AFTER);
        else
            watcherWake.wait(lock, [this] { return stopping || anyConnection(); });
        if (stopping) return;
        lendHelpers(Clock::now());
    }
}

// Called with `mutex` held. A loop whose threads have all been processing for STALL_AFTER gets
// a helper, a new thread if none is idle, while fewer than maxHelpers exist.
void EventLoops::lendHelpers(Clock::time_point now) {
    for (auto& loop : loops) {
        const bool allBusy = loop->processing > 0 && loop->processing >= loop->running;
        if (!allBusy) {
            loop->stalledSince = {};
            continue;
        }
        if (loop->stalledSince == Clock::time_point{}) {
            loop->stalledSince = now;
            continue;
        }
        if (now - loop->stalledSince < STALL_AFTER) continue;
        if (idleHelpers == 0 && helperThreads.size() >= maxHelpers) continue;
        loop->stalledSince = {};
        stalled.push_back(loop.get());
        if (idleHelpers == 0) helperThreads.emplace_back([this] { runHelper(); });
        helperWake.notify_one();
    }
}

}  // namespace connectorhost
