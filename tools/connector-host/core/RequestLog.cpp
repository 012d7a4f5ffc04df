#include "tools/connector-host/core/RequestLog.hpp"

#include "tools/connector-host/core/HostLog.hpp"

namespace connectorhost {

void RequestLog::served(AccessRecord record, std::size_t type) noexcept {
    if (type != 0) record.type = metrics.typeName(type);
    metrics.countRequest(type, record.error, record.duration, record.bytesIn, record.bytesOut);
    if (record.status != 0) metrics.countStatus(record.status);
    tell(record);
}

void RequestLog::answered(const AccessRecord& record) noexcept {
    metrics.countHttp(record.status, record.error, record.bytesIn, record.bytesOut);
    tell(record);
}

void RequestLog::tell(const AccessRecord& record) noexcept {
    if (accessLog) accessLog->write(record);
    if (!logEnabled(log_level::DEBUG)) return;
    try {
        logLine(log_level::DEBUG, "request " + accessLine(record));
    } catch (...) {
    }
}

}  // namespace connectorhost
