// foundation::concurrent::future<T>: the host's future, a boost::future<T> (the future of a
// boost::promise) under the host's own name, so that host types can extend it. Move-only, like
// boost::future. get() takes the value once: a second get raises boost::future_uninitialized.
#pragma once

#include <boost/thread/future.hpp>
#include <utility>

namespace foundation::concurrent {

template <class T>
class future : public boost::future<T> {
  public:
    future() = default;
    explicit future(boost::future<T>&& source) noexcept : boost::future<T>(std::move(source)) {}
    future(future&&) = default;
    future& operator=(future&&) = default;
};

}  // namespace foundation::concurrent
