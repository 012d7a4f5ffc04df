// connector::Future / connector::Promise: the one-shot response slot of every message handler.
//
// A producer (Promise, or makeReadyFuture / makeErrorFuture) resolves a shared state once with a
// value or an error; the consumer either waits for it with Future::get or chains a continuation
// with Future::then. Example:
//
//   connector::Promise<int> promise;
//   connector::Future<int> doubled = promise.getFuture().then([](connector::Future<int> f) {
//       return f.get() * 2;  // runs on the thread that resolves the promise
//   });
//   promise.setValue(21);
//   int answer = doubled.get();  // 42
//
// The shared state (detail::SharedFutureState) and its moves:
//
//   state | name      | entered by                            | leaves to
//   ------+-----------+---------------------------------------+---------------------------------
//     0   | pending   | construction                          | 1 by setValue, 2 by setException,
//         |           |                                       | 3 by cancel
//     1   | value     | setValue                              | final; get moves the value out
//     2   | error     | setException                          | final; get rethrows the error
//     3   | cancelled | cancel                                | final; resolving it is a no-op,
//         |           |                                       | get throws, a continuation
//         |           |                                       | never runs
//
//   Who owns what: the state is shared (std::shared_ptr) by the promise, every future of it and a
//   running continuation. The state owns a separately allocated box with the value or the error
//   (states 1 and 2) and at most one installed continuation. `futureRetrieved` records that the
//   promise handed out its future, `valueTaken` that get consumed (or is waiting for) the value.
//
// Threads: any thread may resolve a state and any thread may wait on it. Every field is guarded
// by the state's own mutex; the condition variable is broadcast after every resolution. A
// continuation runs outside the lock, on the thread that resolves the state, or on the thread
// calling then when the state is already resolved.
//
// Errors: misuse throws std::runtime_error with a fixed text (see the texts below) and leaves the
// state as it was; errors of the producer travel as the stored exception and are rethrown,
// unchanged in type, by get.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>

#include "connector/framework/Visibility.hpp"

namespace connector {

template <class T>
class Future;
template <class T>
class Promise;

namespace detail {

// Misuse texts, exactly as clients and logs see them.
inline constexpr const char* INVALID_FUTURE = "Future state isn't valid!";
inline constexpr const char* GET_MISUSE =
    "Future already returned it's value or has an associated continuation.";
inline constexpr const char* THEN_MISUSE =
    "Future already has returned it's value or has an associated continuation.";
inline constexpr const char* FUTURE_ALREADY_RETRIEVED = "Promise already returned a future.";
inline constexpr const char* ALREADY_RESOLVED = "Promise already resolved.";
inline constexpr const char* CANCELLED = "Future has been cancelled.";
inline constexpr const char* INVALID_STATE = "Invalid Future state reached.";
inline constexpr const char* BROKEN_PROMISE = "Promise destroyed before it was resolved.";

// ContinuationBase<T>: what a state runs once it is resolved. Owned by the state until it runs.
template <class T>
class CONNECTOR_FRAMEWORK_API ContinuationBase {
  public:
    virtual ~ContinuationBase() = default;
    // run: called once, outside the state's lock, with a valid future of the resolved state.
    virtual void run(Future<T> resolved) = 0;
};

// Continuation<T, F>: owns the callable and the promise of the future that `then` gave out.
template <class T, class F>
class Continuation final : public ContinuationBase<T> {
  public:
    using Result = std::invoke_result_t<F&, Future<T>>;
    static_assert(!std::is_void_v<Result>, "a continuation must return a value");

    explicit Continuation(F&& callable) : function(std::move(callable)) {}

    Future<Result> getFuture() { return promise.getFuture(); }

    // run: calls the callable and resolves the chained future with its result; anything the
    // callable throws (an error rethrown by get included) resolves it with that error instead.
    void run(Future<T> resolved) override {
        try {
            promise.setValue(function(std::move(resolved)));
        } catch (...) {
            promise.setException(std::current_exception());
        }
    }

  private:
    F function;
    Promise<Result> promise;
};

// SharedFutureState<T>: the slot itself; always created with std::make_shared (one allocation
// for the object and its counts) and held by std::shared_ptr.
template <class T>
class CONNECTOR_FRAMEWORK_API SharedFutureState
    : public std::enable_shared_from_this<SharedFutureState<T>> {
  public:
    enum : std::uint32_t {
        PENDING = 0,
        RESOLVED_VALUE = 1,
        RESOLVED_ERROR = 2,
        CANCELLED_STATE = 3
    };

    SharedFutureState() = default;
    SharedFutureState(const SharedFutureState&) = delete;
    SharedFutureState& operator=(const SharedFutureState&) = delete;

    // The boxed result goes first, under the mutex, then any continuation still installed.
    ~SharedFutureState() {
        std::unique_ptr<ContinuationBase<T>> leftover;
        {
            std::lock_guard<std::mutex> lock(mutex);
            result.reset();
            leftover = std::move(continuation);
        }
    }

    // getFuture: hands out the one future of this state. REQUIRES: called at most once.
    Future<T> getFuture() {
        std::lock_guard<std::mutex> lock(mutex);
        if (futureRetrieved) throw std::runtime_error(FUTURE_ALREADY_RETRIEVED);
        futureRetrieved = true;
        return Future<T>(this->shared_from_this());
    }

    // get: waits until resolved and moves the value out, or rethrows the stored error.
    T get() {
        std::unique_lock<std::mutex> lock(mutex);
        if (valueTaken || continuation) throw std::runtime_error(GET_MISUSE);
        valueTaken = true;
        condition.wait(lock, [this] { return state != PENDING; });
        switch (state) {
            case RESOLVED_VALUE:
                return std::move(std::get<VALUE_INDEX>(*result));
            case RESOLVED_ERROR:
                std::rethrow_exception(std::get<ERROR_INDEX>(*result));
            case CANCELLED_STATE:
                throw std::runtime_error(CANCELLED);
            default:
                throw std::runtime_error(INVALID_STATE);
        }
    }

    // then: installs the continuation and gives the future of its result. If the state is already
    // resolved the continuation runs on this thread before then returns.
    template <class F>
    Future<typename Continuation<T, F>::Result> then(F&& function) {
        std::unique_lock<std::mutex> lock(mutex);
        if (valueTaken || continuation) throw std::runtime_error(THEN_MISUSE);
        auto installed = std::make_unique<Continuation<T, F>>(std::forward<F>(function));
        auto chained = installed->getFuture();
        continuation = std::move(installed);
        notify(lock);
        return chained;
    }

    void setValue(T&& value) {
        resolve([&] {
            return std::make_unique<Box>(std::in_place_index<VALUE_INDEX>, std::move(value));
        });
    }

    void setException(const std::exception_ptr& error) {
        resolve([&] { return std::make_unique<Box>(std::in_place_index<ERROR_INDEX>, error); });
    }

    // cancel: moves a pending state to cancelled; waiters wake and get "Future has been
    // cancelled.", an installed continuation is dropped without running. A no-op once resolved.
    void cancel() {
        std::unique_lock<std::mutex> lock(mutex);
        if (state != PENDING) return;
        state = CANCELLED_STATE;
        auto dropped = std::move(continuation);
        lock.unlock();
        condition.notify_all();
    }

    bool isReady() const {
        std::lock_guard<std::mutex> lock(mutex);
        return state != PENDING;
    }

  private:
    static constexpr std::size_t VALUE_INDEX = 0;
    static constexpr std::size_t ERROR_INDEX = 1;
    using Box = std::variant<T, std::exception_ptr>;

    template <class MakeBox>
    void resolve(MakeBox&& makeBox) {
        std::unique_lock<std::mutex> lock(mutex);
        switch (state) {
            case PENDING: {
                result = makeBox();
                state = result->index() == VALUE_INDEX ? RESOLVED_VALUE : RESOLVED_ERROR;
                notify(lock);
                return;
            }
            case CANCELLED_STATE:
                return;
            default:
                throw std::runtime_error(ALREADY_RESOLVED);
        }
    }

    // Entered with the lock held; always leaves it released and the waiters woken.
    void notify(std::unique_lock<std::mutex>& lock) {
        if (continuation && (state == RESOLVED_VALUE || state == RESOLVED_ERROR)) {
            std::unique_ptr<ContinuationBase<T>> toRun = std::move(continuation);
            futureRetrieved = false;
            valueTaken = false;
            lock.unlock();
            toRun->run(Future<T>(this->shared_from_this()));
            toRun.reset();
        } else {
            lock.unlock();
        }
        condition.notify_all();
    }

    mutable std::mutex mutex;
    std::condition_variable condition;
    std::unique_ptr<Box> result;
    std::unique_ptr<ContinuationBase<T>> continuation;
    std::uint32_t state = PENDING;
    bool futureRetrieved = false;
    bool valueTaken = false;
};

}  // namespace detail

// Future<T>: the consumer side. Move-only; valid while it refers to a live state and has not been
// moved from or consumed by then.
template <class T>
class CONNECTOR_FRAMEWORK_API Future {
  public:
    using State = detail::SharedFutureState<T>;

    Future() noexcept : valid(false) {}
    explicit Future(std::shared_ptr<State> shared) noexcept
        : state(std::move(shared)), valid(state != nullptr) {}
    Future(Future&& other) noexcept
        : state(std::move(other.state)), valid(other.valid.exchange(false)) {}
    Future& operator=(Future&& other) noexcept {
        if (this != &other) {
            state = std::move(other.state);
            valid.store(other.valid.exchange(false));
        }
        return *this;
    }
    Future(const Future&) = delete;
    Future& operator=(const Future&) = delete;

    // get: blocks until the state is resolved, then gives the value or rethrows the error.
    // NOTE: consumes the value; a second get throws.
    [[nodiscard]] T get() {
        if (!valid.load()) throw std::runtime_error(detail::INVALID_FUTURE);
        return state->get();
    }

    // then: chains `function(Future<T>)`; this future becomes invalid. The function runs once,
    // on the resolving thread (or here, at once, if the state is already resolved).
    template <class F>
    [[nodiscard]] Future<std::invoke_result_t<std::decay_t<F>&, Future<T>>> then(F&& function) {
        if (!valid.exchange(false)) throw std::runtime_error(detail::INVALID_FUTURE);
        std::shared_ptr<State> consumed = std::move(state);
        return consumed->then(std::decay_t<F>(std::forward<F>(function)));
    }

    bool isValid() const noexcept { return valid.load(); }

    // isReady: true once resolved (or cancelled); never blocks on the producer.
    bool isReady() const { return valid.load() && state->isReady(); }

  private:
    std::shared_ptr<State> state;
    std::atomic<bool> valid;
};

// Promise<T>: the producer side; owns a fresh state. Move-only. A promise destroyed while its
// state is still pending resolves it with std::runtime_error "Promise destroyed before it was
// resolved." so that no waiter blocks forever.
template <class T>
class CONNECTOR_FRAMEWORK_API Promise {
  public:
    Promise() : state(std::make_shared<detail::SharedFutureState<T>>()) {}
    Promise(Promise&&) noexcept = default;
    Promise& operator=(Promise&& other) noexcept {
        if (this != &other) {
            abandon();
            state = std::move(other.state);
            settled = other.settled;
        }
        return *this;
    }
    Promise(const Promise&) = delete;
    Promise& operator=(const Promise&) = delete;
    ~Promise() { abandon(); }

    // getFuture: REQUIRES called once; a second call throws "Promise already returned a future.".
    [[nodiscard]] Future<T> getFuture() { return state->getFuture(); }
    // setValue / setException: resolve once; a second resolution throws "Promise already
    // resolved.", a cancelled state drops the result silently.
    void setValue(T&& value) {
        state->setValue(std::move(value));
        settled = true;
    }
    void setException(const std::exception_ptr& error) {
        state->setException(error);
        settled = true;
    }
    void cancel() {
        state->cancel();
        settled = true;
    }

  private:
    void abandon() noexcept {
        // Settled here, or nobody left to observe the state: nothing to do (and no lock to take).
        if (settled || !state || state.use_count() == 1) return;
        try {
            if (!state->isReady())
                state->setException(
                    std::make_exception_ptr(std::runtime_error(detail::BROKEN_PROMISE)));
        } catch (...) {
            // resolved concurrently: the first result stays
        }
    }

    std::shared_ptr<detail::SharedFutureState<T>> state;
    bool settled = false;  // this promise resolved or cancelled its state itself
};

// makeReadyFuture: a future already holding `value`.
template <class T>
[[nodiscard]] Future<std::decay_t<T>> makeReadyFuture(T&& value) {
    auto state = std::make_shared<detail::SharedFutureState<std::decay_t<T>>>();
    state->setValue(std::forward<T>(value));
    return Future<std::decay_t<T>>(std::move(state));
}

// makeErrorFuture: a future already holding a copy of `error` (its type and text kept).
template <class T, class E>
[[nodiscard]] Future<T> makeErrorFuture(const E& error) {
    auto state = std::make_shared<detail::SharedFutureState<T>>();
    state->setException(std::make_exception_ptr(error));
    return Future<T>(std::move(state));
}

// makeErrorFuture from an exception pointer already caught.
template <class T>
[[nodiscard]] Future<T> makeErrorFuture(const std::exception_ptr& error) {
    auto state = std::make_shared<detail::SharedFutureState<T>>();
    state->setException(error);
    return Future<T>(std::move(state));
}

}  // namespace connector
