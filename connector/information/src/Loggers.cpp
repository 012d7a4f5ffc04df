#include "Loggers.hpp"

namespace connector::information::v1 {

foundation::log::basic_diagnostic_logger informationServiceLogger("connector::information");
foundation::log::basic_diagnostic_logger clientTypeServiceLogger("connector::information");

}  // namespace connector::information::v1
