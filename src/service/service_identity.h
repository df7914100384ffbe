#pragma once
// How the service is known to the service manager and in its log.

namespace qolv {

inline constexpr char kServiceName[] = "QolvTovuPP";
inline constexpr char kServiceVersion[] = "1.0.0.8191";
inline constexpr char kServiceDisplayName[] = "QOLV Tovu PrinterProxy";
inline constexpr char kServiceDescription[] =
    "该服务负责为LirraPOS系统提供业务支持。如果停止或禁用该服务，依赖于该服务的任何组件或应用程序都可能无法正"
    "常运行。";

}  // namespace qolv
