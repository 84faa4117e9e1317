#pragma once
// The socket layer speaks in Winsock-style error numbers; this is the one
// place where the system's errno values become those numbers.

namespace ormbrook {

constexpr int WsaOk = 0;
constexpr int WsaInterrupted = 10004;       // WSAEINTR
constexpr int WsaBadHandle = 10009;         // WSAEBADF
constexpr int WsaAccess = 10013;            // WSAEACCES
constexpr int WsaFault = 10014;             // WSAEFAULT
constexpr int WsaInvalid = 10022;           // WSAEINVAL
constexpr int WsaTooManyOpen = 10024;       // WSAEMFILE
constexpr int WsaWouldBlock = 10035;        // WSAEWOULDBLOCK
constexpr int WsaAlready = 10037;           // WSAEALREADY
constexpr int WsaNotSocket = 10038;         // WSAENOTSOCK
constexpr int WsaMessageSize = 10040;       // WSAEMSGSIZE
constexpr int WsaNoProtocol = 10043;        // WSAEPROTONOSUPPORT
constexpr int WsaNotSupported = 10045;      // WSAEOPNOTSUPP
constexpr int WsaNoFamily = 10047;          // WSAEAFNOSUPPORT
constexpr int WsaAddressInUse = 10048;      // WSAEADDRINUSE
constexpr int WsaAddressNotAvail = 10049;   // WSAEADDRNOTAVAIL
constexpr int WsaNetDown = 10050;           // WSAENETDOWN
constexpr int WsaNetUnreachable = 10051;    // WSAENETUNREACH
constexpr int WsaNetReset = 10052;          // WSAENETRESET
constexpr int WsaConnAborted = 10053;       // WSAECONNABORTED
constexpr int WsaConnReset = 10054;         // WSAECONNRESET
constexpr int WsaNoBuffers = 10055;         // WSAENOBUFS
constexpr int WsaIsConnected = 10056;       // WSAEISCONN
constexpr int WsaNotConnected = 10057;      // WSAENOTCONN
constexpr int WsaShutDown = 10058;          // WSAESHUTDOWN
constexpr int WsaTimedOut = 10060;          // WSAETIMEDOUT
constexpr int WsaRefused = 10061;           // WSAECONNREFUSED
constexpr int WsaHostDown = 10064;          // WSAEHOSTDOWN
constexpr int WsaHostUnreachable = 10065;   // WSAEHOSTUNREACH
constexpr int WsaVersionNotSupported = 10092; // WSAVERNOTSUPPORTED
constexpr int WsaHostNotFound = 11001;      // WSAHOST_NOT_FOUND
constexpr int WsaTryAgain = 11002;          // WSATRY_AGAIN
constexpr int WsaNoRecovery = 11003;        // WSANO_RECOVERY
constexpr int WsaNoData = 11004;            // WSANO_DATA: the name exists, no IPv4 address

// An errno with no Winsock counterpart comes out as WsaUnmapped + errno: out
// of the range the engine acts on, yet still tells the cause.
constexpr int WsaUnmapped = 12000;

int WsaFromErrno(int err);

// A few words a user can read for an error ("connection refused"); empty
// for WsaOk.
const char* WsaErrorText(int err);

} // namespace ormbrook
