// The plug-in's two diagnostic loggers, one per service, both on the channel
// "connector::information". Created when the library is loaded.
#pragma once

#include "host/log/DiagnosticLogger.hpp"

namespace connector::information::v1 {

extern foundation::log::basic_diagnostic_logger informationServiceLogger;
extern foundation::log::basic_diagnostic_logger clientTypeServiceLogger;

}  // namespace connector::information::v1
