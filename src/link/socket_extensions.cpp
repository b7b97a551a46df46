// AcceptEx and GetAcceptExSockaddrs, which Asio's accept calls, taken from
// the socket provider as Windows documents (WSAIoctl with
// SIO_GET_EXTENSION_FUNCTION_POINTER) instead of imported from mswsock.dll:
// that DLL is no known DLL, and one planted beside the program would be
// loaded in its place.
#include <winsock2.h>
#include <mswsock.h>

#include <atomic>

namespace {

// Written once by the server thread (the only one that accepts), or the same
// value by any thread that finds it missing.
std::atomic<LPFN_ACCEPTEX> AcceptExFunction{nullptr};
std::atomic<LPFN_GETACCEPTEXSOCKADDRS> SockaddrsFunction{nullptr};

template <typename Function>
Function ExtensionFunction(SOCKET socket, GUID id)
{
    Function found = nullptr;
    DWORD bytes = 0;
    if (WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &found, sizeof found,
                 &bytes, nullptr, nullptr) != 0)
        return nullptr;
    return found;
}

void LoadExtensions(SOCKET socket)
{
    AcceptExFunction = ExtensionFunction<LPFN_ACCEPTEX>(socket, WSAID_ACCEPTEX);
    SockaddrsFunction = ExtensionFunction<LPFN_GETACCEPTEXSOCKADDRS>(socket, WSAID_GETACCEPTEXSOCKADDRS);
}

} // namespace

BOOL WINAPI AcceptEx(SOCKET listening, SOCKET accepted, PVOID buffer, DWORD received,
                     DWORD localLength, DWORD remoteLength, LPDWORD bytes, LPOVERLAPPED overlapped)
{
    if (!AcceptExFunction) LoadExtensions(listening);
    LPFN_ACCEPTEX accept = AcceptExFunction;
    if (!accept) {
        WSASetLastError(WSAEOPNOTSUPP);
        return FALSE;
    }
    return accept(listening, accepted, buffer, received, localLength, remoteLength, bytes, overlapped);
}

VOID WINAPI GetAcceptExSockaddrs(PVOID buffer, DWORD received, DWORD localLength, DWORD remoteLength,
                                 sockaddr** local, LPINT localSize, sockaddr** remote, LPINT remoteSize)
{
    // Only ever after an AcceptEx, which loaded it; else from a socket of its own.
    if (!SockaddrsFunction) {
        const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s != INVALID_SOCKET) {
            LoadExtensions(s);
            closesocket(s);
        }
    }
    if (LPFN_GETACCEPTEXSOCKADDRS sockaddrs = SockaddrsFunction)
        sockaddrs(buffer, received, localLength, remoteLength, local, localSize, remote, remoteSize);
}
