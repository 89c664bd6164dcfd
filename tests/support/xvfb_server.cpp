#include "tests/support/xvfb_server.h"

namespace testing_support {

XvfbServer::XvfbServer() : display_(":" + process_.first_line()) {}

}  // namespace testing_support
