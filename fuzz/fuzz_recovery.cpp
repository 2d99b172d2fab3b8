// The whole recovery of the input into a PST in a fresh temporary folder,
// removed after the run.
#include <filesystem>
#include <system_error>

#include "client/TRELD.h"
#include "fuzz/fuzz_support.h"

namespace {

class Quiet final : public vexl::client::EngineEvents {
 public:
  bool onMessage(std::int32_t, void*) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  const std::string& source = vexl::fuzz::inputFile().write(data, size);
  std::string pattern = (fs::temp_directory_path() / "brellin-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  const fs::path folder(pattern);
  vexl::EngineOptions options = vexl::client::defaultEngineOptions();
  Quiet events;
  vexl::client::runRecovery(source, options, (folder / "out.pst").string(), &events);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}
