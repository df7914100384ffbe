#pragma once
// The printers the operating system knows on this machine.
#include <string>
#include <vector>

namespace qolv::sdk {

struct LocalPrinter {
  std::string name;  // UTF-8
  bool isDefault = false;
  std::string description;
  std::string location;
};

// Fills printers with the machine's printers. False with a message when the system's list could
// not be read; on Linux a print server that does not run is no failure but an empty list.
bool ReadLocalPrinters(std::vector<LocalPrinter>& printers, std::string& error);

}  // namespace qolv::sdk
