#include "platform/internet_settings.h"

namespace platform {

InternetSettings internetSettings()
{
    return {};
}

}  // namespace platform
