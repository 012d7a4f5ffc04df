// cmddistributor::RunOptions: how one run is carried out; today the sinks that receive its
// output and error text (empty until set). A plain value type: copy and move freely.
#pragma once

#include <boost/shared_ptr.hpp>

#include "host/qxutil/io/QXSink.hpp"

namespace cmddistributor {

class RunOptions {
  public:
    [[nodiscard]] const boost::shared_ptr<qxutil::io::QXSink>& getOutSink() const noexcept {
        return outSink_;
    }
    void setOutSink(boost::shared_ptr<qxutil::io::QXSink> sink) { outSink_ = std::move(sink); }
    [[nodiscard]] const boost::shared_ptr<qxutil::io::QXSink>& getErrSink() const noexcept {
        return errSink_;
    }
    void setErrSink(boost::shared_ptr<qxutil::io::QXSink> sink) { errSink_ = std::move(sink); }

  private:
    boost::shared_ptr<qxutil::io::QXSink> outSink_;
    boost::shared_ptr<qxutil::io::QXSink> errSink_;
};

}  // namespace cmddistributor
