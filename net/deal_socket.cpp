#include "net/deal_socket.h"

#include "support/log.h"

CDealSocket::CDealSocket() {
    switch (platform::StartSockets()) {
    case platform::SocketStartup::Ok:
        break;
    case platform::SocketStartup::Failed:
        WriteLog("WSAStartup");
        break;
    case platform::SocketStartup::WrongVersion:
        WriteLog("WinSock version not supported");
        platform::StopSockets();
        break;
    }
}

CDealSocket::~CDealSocket() { platform::StopSockets(); }
