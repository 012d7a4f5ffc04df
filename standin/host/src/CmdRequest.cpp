#include "host/cmddistributor/CmdRequest.hpp"

namespace cmddistributor {

CmdRequest::CmdRequest(IqmStreamID streamID, boost::shared_ptr<qxutil::io::QXSink> outputSink,
                       boost::shared_ptr<qxutil::io::QXSink> errorSink)
    : streamID_(streamID), outputSink_(std::move(outputSink)), errorSink_(std::move(errorSink)) {}

CmdRequest::~CmdRequest() = default;

boost::shared_ptr<IIP> CmdRequest::getIIP() const {
    return {};
}

}  // namespace cmddistributor
