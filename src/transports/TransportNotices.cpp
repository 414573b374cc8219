#include "transports/TransportNotices.h"

TransportNotices &transportNotices()
{
    static TransportNotices notices;
    return notices;
}
