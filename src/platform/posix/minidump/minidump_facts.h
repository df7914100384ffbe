#pragma once
// Facts about the machine that a Linux minidump records and that do not change while the process
// runs. They are gathered before any crash, because some of them (the processor count) cannot be
// read safely inside a signal handler.
#include "platform/posix/minidump/minidump_format.h"

namespace qolv::platform::posix {

struct MinidumpFacts {
  minidump::SystemInfo systemInfo;  // csdVersionRva is left to the writer
  char osText[400];                 // "Linux <release> <version> <machine>", the CSD version text
};

// Gathers the facts once; later calls do nothing.
void PrepareMinidumpFacts();

// The facts; PrepareMinidumpFacts must have run.
const MinidumpFacts& Facts();

}  // namespace qolv::platform::posix
