// The whole-file scan and the variant decision over arbitrary bytes, as the
// scan report runs them (automatic variant).
#include "engine/ndb/scan_report.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = vexl::fuzz::inputFile().write(data, size);
  vexl::ScanRequest request;
  std::string error;
  if (auto report = vexl::runScanReport(path, request, &error)) (void)vexl::formatScanReportJson(*report);
  return 0;
}
