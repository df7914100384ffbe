#pragma once
// System error numbers used across the code base. They are the Windows numbers on every
// target, so log lines, close codes and tests read the same everywhere.
#include <cstdint>

namespace qolv::err {

inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr uint32_t kInvalidHandle = 6;
inline constexpr uint32_t kNotEnoughMemory = 8;
inline constexpr uint32_t kInvalidData = 13;
inline constexpr uint32_t kNotSupported = 50;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kInsufficientBuffer = 122;
inline constexpr uint32_t kModuleNotFound = 126;
inline constexpr uint32_t kProcNotFound = 127;
inline constexpr uint32_t kAlreadyExists = 183;
inline constexpr uint32_t kBadExeFormat = 193;
inline constexpr uint32_t kFileTooLarge = 223;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kHandlesClosed = 676;
inline constexpr uint32_t kOperationAborted = 995;
inline constexpr uint32_t kIoPending = 997;
inline constexpr uint32_t kFileInvalid = 1006;
inline constexpr uint32_t kServiceDoesNotExist = 1060;
inline constexpr uint32_t kServiceCannotAcceptControl = 1061;
inline constexpr uint32_t kServiceNotActive = 1062;
inline constexpr uint32_t kFailedServiceControllerConnect = 1063;
inline constexpr uint32_t kServiceExists = 1073;
inline constexpr uint32_t kCancelled = 1223;
inline constexpr uint32_t kInvalidIndex = 1413;
inline constexpr uint32_t kTimeout = 1460;
inline constexpr uint32_t kObjectNotFound = 4312;
inline constexpr uint32_t kInvalidState = 5023;
inline constexpr uint32_t kWsaFault = 10014;
inline constexpr uint32_t kWsaInvalidArgument = 10022;
inline constexpr uint32_t kWsaTooManySockets = 10024;
inline constexpr uint32_t kWsaWouldBlock = 10035;
inline constexpr uint32_t kWsaNotSocket = 10038;
inline constexpr uint32_t kWsaFamilyNotSupported = 10047;
inline constexpr uint32_t kWsaAddressInUse = 10048;
inline constexpr uint32_t kWsaAddressNotAvailable = 10049;
inline constexpr uint32_t kWsaConnectionAborted = 10053;
inline constexpr uint32_t kWsaConnectionReset = 10054;
inline constexpr uint32_t kWsaNotConnected = 10057;
inline constexpr uint32_t kWsaTimedOut = 10060;
inline constexpr uint32_t kWsaConnectionRefused = 10061;
inline constexpr uint32_t kWsaDisconnected = 10101;

// HRESULT values carried by fatal engine errors and by the mapped-file send.
inline constexpr uint32_t kHresultFail = 0x80004005u;
inline constexpr uint32_t kHresultFileTooLarge = 0x800700DFu;
inline constexpr uint32_t kHresultFileInvalid = 0x800703EEu;

}  // namespace qolv::err
