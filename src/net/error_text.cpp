#include "net/error_text.h"

namespace qolv::net {

const char* ServerErrorText(ServerError code) {
  switch (code) {
    case ServerError::Success:
      return "SUCCESS";
    case ServerError::IllegalState:
      return "Illegal State";
    case ServerError::InvalidParameter:
      return "Invalid Parameter";
    case ServerError::CreateSocketFailed:
      return "Create SOCKET Fail";
    case ServerError::BindSocketFailed:
      return "Bind SOCKET Fail";
    case ServerError::PrepareSocketFailed:
      return "Prepare SOCKET Fail";
    case ServerError::ListenSocketFailed:
      return "Listen SOCKET Fail";
    case ServerError::CreateCompletionPortFailed:
      return "Create IOCP Fail";
    case ServerError::CreateWorkerThreadFailed:
      return "Create Worker Thread Fail";
    case ServerError::CreateDetectorThreadFailed:
      return "Create Detector Thread Fail";
    case ServerError::AttachSocketFailed:
      return "Attach SOCKET to IOCP Fail";
    case ServerError::ConnectServerFailed:
      return "Connect to Server Fail";
    case ServerError::NetworkError:
      return "Network Error";
    case ServerError::ProcessDataError:
      return "Process Data Error";
    case ServerError::SendDataFailed:
      return "Send Data Fail";
    case ServerError::SslEnvironmentNotReady:
      return "SSL environment not ready";
  }
  return "UNKNOWN ERROR";
}

}  // namespace qolv::net
