#pragma once
// Failures raised by the HTTP building blocks (addresses, authentication
// schemes, the local zone). The coders raise plain EIdException.

#include "transport/exceptions.h"

namespace ah {

// "Protocol field is empty" / "Host field is empty"
AH_EXCEPTION_CLASS(EIdURIException, EIdException)
// "This authentication method is already registered with class name %s."
AH_EXCEPTION_CLASS(EIdAlreadyRegisteredAuthenticationMethod, EIdException)
// "Failed attempting to retrieve time zone information."
AH_EXCEPTION_CLASS(EIdFailedToRetreiveTimeZoneInfo, EIdException)

}  // namespace ah
