// cmddistributor::CmdRequest: what a caller submits to the distributor: the stream the run
// belongs to, where its output and error text go, and (in derived requests) the work item. A
// bare CmdRequest carries no work item. Immutable after construction; shared by
// boost::shared_ptr.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "host/Export.hpp"
#include "host/cmddistributor/IIP.hpp"
#include "host/qxutil/io/QXSink.hpp"

namespace cmddistributor {

using IqmStreamID = std::uint32_t;

class QUORIX_HOST_API CmdRequest {
  public:
    CmdRequest(IqmStreamID streamID, boost::shared_ptr<qxutil::io::QXSink> outputSink,
               boost::shared_ptr<qxutil::io::QXSink> errorSink);
    virtual ~CmdRequest();
    CmdRequest(const CmdRequest&) = delete;
    CmdRequest& operator=(const CmdRequest&) = delete;

    // getIIP: the work item; empty for a bare request.
    [[nodiscard]] virtual boost::shared_ptr<IIP> getIIP() const;
    [[nodiscard]] IqmStreamID getStreamID() const noexcept { return streamID_; }
    [[nodiscard]] const boost::shared_ptr<qxutil::io::QXSink>& getOutputSink() const noexcept {
        return outputSink_;
    }
    [[nodiscard]] const boost::shared_ptr<qxutil::io::QXSink>& getErrorSink() const noexcept {
        return errorSink_;
    }

  private:
    IqmStreamID streamID_;
    boost::shared_ptr<qxutil::io::QXSink> outputSink_;
    boost::shared_ptr<qxutil::io::QXSink> errorSink_;
};

}  // namespace cmddistributor
