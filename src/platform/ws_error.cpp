#include "platform/ws_error.h"

#include <cerrno>

namespace ormbrook {

int WsaFromErrno(int err)
{
    switch (err) {
    case 0: return WsaOk;
    case EINTR: return WsaInterrupted;
    case EBADF: return WsaBadHandle;
    case EACCES: case EPERM: return WsaAccess;
    case EFAULT: return WsaFault;
    case EINVAL: return WsaInvalid;
    case EMFILE: case ENFILE: return WsaTooManyOpen;
    // A non-blocking connect that has begun is "would block" in Winsock terms.
    case EAGAIN: case EINPROGRESS: return WsaWouldBlock;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return WsaWouldBlock;
#endif
    case EALREADY: return WsaAlready;
    case ENOTSOCK: return WsaNotSocket;
    case EMSGSIZE: return WsaMessageSize;
    case EPROTONOSUPPORT: return WsaNoProtocol;
    case EOPNOTSUPP: return WsaNotSupported;
    case EAFNOSUPPORT: return WsaNoFamily;
    case EADDRINUSE: return WsaAddressInUse;
    case EADDRNOTAVAIL: return WsaAddressNotAvail;
    case ENETDOWN: return WsaNetDown;
    case ENETUNREACH: return WsaNetUnreachable;
    case ENETRESET: return WsaNetReset;
    case ECONNABORTED: return WsaConnAborted;
    case ECONNRESET: return WsaConnReset;
    case ENOBUFS: case ENOMEM: return WsaNoBuffers;
    case EISCONN: return WsaIsConnected;
    case ENOTCONN: return WsaNotConnected;
    case EPIPE: case ESHUTDOWN: return WsaShutDown;
    case ETIMEDOUT: return WsaTimedOut;
    case ECONNREFUSED: return WsaRefused;
    case EHOSTDOWN: return WsaHostDown;
    case EHOSTUNREACH: return WsaHostUnreachable;
    default: return WsaUnmapped + err;
    }
}

} // namespace ormbrook
