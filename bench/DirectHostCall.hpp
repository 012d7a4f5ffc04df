// bench::DirectHostCall: one host function of an engine called directly, on the calling thread,
// with its input made once beforehand: what the function itself costs, without a request,
// delegate, distributor, serialization or conversion. The floor of every host evaluation row.
//
//   bench::DirectHostCall version(*engine, "version");
//   bench::DirectHostCall feature(*engine, "qls.internal.feature", "graphicsAndGuis");
//   version();  // runs the function, then frees its outputs
//
// Errors: std::invalid_argument when the engine has no function of that name.
#pragma once

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/matrix/Array.hpp"
#include "host/qvm/CancellationToken.hpp"
#include "host/qvm/HostCall.hpp"
#include "host/qvm/QVM.hpp"
#include "host/qxutil/io/QXSink.hpp"

namespace bench {

class DirectHostCall {
  public:
    DirectHostCall(qvm::QVM& engine, std::string name, const char* argument = nullptr)
        : name_(std::move(name)), function_(engine.getFunctions().find(name_)) {
        if (!function_ || !*function_)
            throw std::invalid_argument("the engine has no function '" + name_ + "'");
        if (argument != nullptr) {
            argument_ = matrix::create(argument, std::strlen(argument));
            inputs_.push_back(argument_.get());
        }
    }

    void operator()() {
        qvm::HostCall call(name_, inputs_, 1, discard_, discard_, token_);
        std::vector<matrix::UniqueArray> outputs = (*function_)(call);
        benchmark::DoNotOptimize(outputs.data());
    }

  private:
    class Discard final : public qxutil::io::QXSink {
      public:
        void write(std::string_view) override {}
    };

    std::string name_;
    std::shared_ptr<const qvm::HostFunction> function_;
    matrix::UniqueArray argument_;
    std::vector<matrix::qxArray*> inputs_;
    Discard discard_;
    qvm::CancellationToken token_;
};

}  // namespace bench
