#include "platform/posix/minidump/minidump_facts.h"

#include <cpuid.h>
#include <sys/utsname.h>

#include <cstdio>

#include "platform/process_info.h"

namespace qolv::platform::posix {
namespace {

MinidumpFacts Gather() {
  MinidumpFacts facts{};
  minidump::SystemInfo& info = facts.systemInfo;
  info.processorArchitecture = minidump::kArchitectureAmd64;
  info.platformId = minidump::kPlatformLinux;
  const uint32_t processors = ProcessorCount();
  info.numberOfProcessors = static_cast<uint8_t>(processors > 255 ? 255 : processors);

  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) != 0) {
    info.vendorId[0] = ebx;
    info.vendorId[1] = edx;
    info.vendorId[2] = ecx;
  }
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
    info.versionInformation = eax;
    info.featureInformation = edx;
    // The family and model as the processor numbers them, extended fields included.
    const uint32_t family = (eax >> 8) & 0xF;
    const uint32_t model = (eax >> 4) & 0xF;
    const uint32_t stepping = eax & 0xF;
    const uint32_t fullFamily = family == 0xF ? family + ((eax >> 20) & 0xFF) : family;
    const uint32_t fullModel = (family == 0x6 || family == 0xF) ? model + (((eax >> 16) & 0xF) << 4) : model;
    info.processorLevel = static_cast<uint16_t>(fullFamily);
    info.processorRevision = static_cast<uint16_t>((fullModel << 8) | stepping);
  }
  if (__get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) != 0) info.amdExtendedCpuFeatures = edx;

  utsname names{};
  if (::uname(&names) == 0) {
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(names.release, "%u.%u.%u", &major, &minor, &build);
    info.majorVersion = major;
    info.minorVersion = minor;
    info.buildNumber = build;
    std::snprintf(facts.osText, sizeof facts.osText, "Linux %s %s %s", names.release, names.version,
                  names.machine);
  } else {
    std::snprintf(facts.osText, sizeof facts.osText, "Linux");
  }
  return facts;
}

const MinidumpFacts& Stored() {
  static const MinidumpFacts facts = Gather();
  return facts;
}

}  // namespace

void PrepareMinidumpFacts() { (void)Stored(); }

const MinidumpFacts& Facts() { return Stored(); }

}  // namespace qolv::platform::posix
