#include "host/cmddistributor/FEvalIIP.hpp"

namespace cmddistributor {

IIP::~IIP() = default;

FEvalIIP::Data::~Data() = default;

FEvalIIP::FEvalIIP(Function function, std::size_t outputCount, boost::shared_ptr<Data> data,
                   IqmStreamID streamID, boost::shared_ptr<qxutil::io::QXSink> outputSink,
                   boost::shared_ptr<qxutil::io::QXSink> errorSink, qvm::QvmID sourceQvm,
                   qvm::QvmID targetQvm, bool userVisible, std::string sourceTag)
    : function_(std::move(function))
    , outputCount_(outputCount)
    , data_(std::move(data))
    , streamID_(streamID)
    , outputSink_(std::move(outputSink))
    , errorSink_(std::move(errorSink))
    , sourceQvm_(sourceQvm)
    , targetQvm_(targetQvm)
    , userVisible_(userVisible)
    , sourceTag_(std::move(sourceTag)) {}

FEvalIIP::~FEvalIIP() = default;

}  // namespace cmddistributor
