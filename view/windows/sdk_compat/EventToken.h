// WebView2.h includes this Windows SDK header, which MinGW-w64 does not ship.
#pragma once

typedef struct EventRegistrationToken {
    __int64 value;
} EventRegistrationToken;
