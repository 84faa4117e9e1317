#include "platform/ws_error.h"

#include <cerrno>

namespace ormbrook {

const char* WsaErrorText(int err)
{
    switch (err) {
    case WsaOk: return "";
    case WsaRefused: return "connection refused";
    case WsaConnReset: case WsaNetReset: return "connection reset";
    case WsaConnAborted: return "connection aborted";
    case WsaTimedOut: return "connection timed out";
    case WsaNetDown: case WsaNetUnreachable: return "network unreachable";
    case WsaHostDown: case WsaHostUnreachable: return "host unreachable";
    case WsaHostNotFound: case WsaNoData: return "host not found";
    case WsaTryAgain: case WsaNoRecovery: return "name lookup failed";
    case WsaAddressNotAvail: return "address not available";
    case WsaTooManyOpen: return "too many open files";
    default: return "socket error";
    }
}

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
