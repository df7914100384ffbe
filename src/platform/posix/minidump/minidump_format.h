#pragma once
// The records of the MDMP minidump layout that the Linux writer produces, byte for byte as the
// Windows debugging tools and lldb read them: little-endian, packed to 4 bytes. Offsets in the
// file are 32-bit ("RVA").
#include <cstdint>

namespace qolv::platform::minidump {

inline constexpr uint32_t kSignature = 0x504D444Du;  // "MDMP"
inline constexpr uint32_t kVersion = 0xA793u;

// Stream types.
inline constexpr uint32_t kThreadListStream = 3;
inline constexpr uint32_t kModuleListStream = 4;
inline constexpr uint32_t kMemoryListStream = 5;
inline constexpr uint32_t kExceptionStream = 6;
inline constexpr uint32_t kSystemInfoStream = 7;
inline constexpr uint32_t kMiscInfoStream = 15;
// Linux streams of the widespread Linux extension of the format: /proc/self/status and
// /proc/self/maps as text. lldb takes the process id from the first and the memory regions (to
// tell mapped executables from mapped data files) from the second.
inline constexpr uint32_t kLinuxProcStatusStream = 0x47670004u;
inline constexpr uint32_t kLinuxMapsStream = 0x47670009u;

inline constexpr uint16_t kArchitectureAmd64 = 9;
inline constexpr uint32_t kPlatformLinux = 0x8201u;

// CodeView record signature for an ELF module: the GNU build id follows it.
inline constexpr uint32_t kCvSignatureElfBuildId = 0x4270454Cu;  // "BpEL"

inline constexpr uint32_t kMiscInfoProcessId = 1;

// CONTEXT_AMD64 and the parts of the register record that are filled.
inline constexpr uint32_t kContextAmd64 = 0x00100000u;
inline constexpr uint32_t kContextControl = kContextAmd64 | 0x1u;
inline constexpr uint32_t kContextInteger = kContextAmd64 | 0x2u;
inline constexpr uint32_t kContextSegments = kContextAmd64 | 0x4u;
inline constexpr uint32_t kContextFloatingPoint = kContextAmd64 | 0x8u;

#pragma pack(push, 4)

struct LocationDescriptor {
  uint32_t dataSize;
  uint32_t rva;
};

struct MemoryDescriptor {
  uint64_t startOfMemoryRange;
  LocationDescriptor memory;
};

struct Header {
  uint32_t signature;
  uint32_t version;
  uint32_t numberOfStreams;
  uint32_t streamDirectoryRva;
  uint32_t checkSum;
  uint32_t timeDateStamp;
  uint64_t flags;
};

struct Directory {
  uint32_t streamType;
  LocationDescriptor location;
};

struct Thread {
  uint32_t threadId;
  uint32_t suspendCount;
  uint32_t priorityClass;
  uint32_t priority;
  uint64_t teb;
  MemoryDescriptor stack;
  LocationDescriptor threadContext;
};

struct FixedFileInfo {
  uint32_t fields[13];
};

struct Module {
  uint64_t baseOfImage;
  uint32_t sizeOfImage;
  uint32_t checkSum;
  uint32_t timeDateStamp;
  uint32_t moduleNameRva;
  FixedFileInfo versionInfo;
  LocationDescriptor cvRecord;
  LocationDescriptor miscRecord;
  uint64_t reserved0;
  uint64_t reserved1;
};

struct Exception {
  uint32_t exceptionCode;
  uint32_t exceptionFlags;
  uint64_t exceptionRecord;
  uint64_t exceptionAddress;
  uint32_t numberParameters;
  uint32_t unusedAlignment;
  uint64_t exceptionInformation[15];
};

struct ExceptionStream {
  uint32_t threadId;
  uint32_t alignment;
  Exception exceptionRecord;
  LocationDescriptor threadContext;
};

struct SystemInfo {
  uint16_t processorArchitecture;
  uint16_t processorLevel;
  uint16_t processorRevision;
  uint8_t numberOfProcessors;
  uint8_t productType;
  uint32_t majorVersion;
  uint32_t minorVersion;
  uint32_t buildNumber;
  uint32_t platformId;
  uint32_t csdVersionRva;
  uint16_t suiteMask;
  uint16_t reserved2;
  uint32_t vendorId[3];
  uint32_t versionInformation;
  uint32_t featureInformation;
  uint32_t amdExtendedCpuFeatures;
};

struct MiscInfo {
  uint32_t sizeOfInfo;
  uint32_t flags1;
  uint32_t processId;
  uint32_t processCreateTime;
  uint32_t processUserTime;
  uint32_t processKernelTime;
};

// The AMD64 CONTEXT record. The floating-point area has the layout of the FXSAVE instruction,
// which is also how Linux hands the floating-point state to a signal handler.
struct ContextAmd64 {
  uint64_t pHome[6];
  uint32_t contextFlags;
  uint32_t mxCsr;
  uint16_t segCs, segDs, segEs, segFs, segGs, segSs;
  uint32_t eFlags;
  uint64_t dr0, dr1, dr2, dr3, dr6, dr7;
  uint64_t rax, rcx, rdx, rbx, rsp, rbp, rsi, rdi;
  uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
  uint64_t rip;
  uint8_t floatSave[512];
  uint8_t vectorRegister[26 * 16];
  uint64_t vectorControl;
  uint64_t debugControl;
  uint64_t lastBranchToRip;
  uint64_t lastBranchFromRip;
  uint64_t lastExceptionToRip;
  uint64_t lastExceptionFromRip;
};

#pragma pack(pop)

static_assert(sizeof(Header) == 32);
static_assert(sizeof(Directory) == 12);
static_assert(sizeof(Thread) == 48);
static_assert(sizeof(Module) == 108);
static_assert(sizeof(ExceptionStream) == 168);
static_assert(sizeof(SystemInfo) == 56);
static_assert(sizeof(MiscInfo) == 24);
static_assert(sizeof(ContextAmd64) == 1232);
static_assert(sizeof(MemoryDescriptor) == 16);

}  // namespace qolv::platform::minidump
