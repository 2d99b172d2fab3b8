#include "engine/core/recovery_engine.h"

#include <cstring>
#include <memory>
#include <utility>

#include "engine/core/path_names.h"
#include "engine/file/file64_ex.h"

namespace vexl {
namespace {

constexpr std::uint32_t kSourceWindowBytes = 65536;

// Progress mapping of the two scans onto the run's bar: the variant decision
// covers 0 to 16, the whole-file scan 17 to 67.
constexpr std::uint8_t kDecisionStart = 0;
constexpr std::uint32_t kDecisionDivisor = 6;
constexpr std::uint8_t kScanStart = 17;
constexpr std::uint32_t kScanDivisor = 2;
constexpr std::uint8_t kIndexesReady = 70;

bool isOn(std::int32_t flag) { return flag != 0; }

}  // namespace

RecoveryEngine::RecoveryEngine(EngineCallback callback, void* user, EngineServices services)
    : EngineContext(callback, user), services_(std::move(services)) {}

std::string RecoveryEngine::splitFileName(const std::string& targetPath, std::uint32_t number) {
  StemAndExtension parts = splitExtension(targetPath);
  return formatPrintf("%s_%lu%s", {parts.stem, number, parts.extension});
}

PstFormat RecoveryEngine::chooseTargetFormat() {
  switch (options_.DstFormat) {
    case 0:
      return services_.probeOutlookVersion() < 11 ? PstFormat::Ansi : PstFormat::Unicode;
    case 2:
      return PstFormat::Unicode;
    default:
      return PstFormat::Ansi;
  }
}

NdbFormat& RecoveryEngine::chooseVariant(CFile64Ex& source, NdbFormat& ansi, NdbFormat& unicode) {
  switch (options_.SrcFormat) {
    case 0:
      if (services_.decideVariant(*this, source, ansi, unicode, kDecisionStart, kDecisionDivisor) == 32) return ansi;
      return unicode;
    case 2:
      return unicode;
    default:
      return ansi;
  }
}

void RecoveryEngine::reportOpenFailure(const FileError& error, const std::string& sourcePath) {
  sendText(ErrorText, describeError(kStrErrorOpenSource, &error));
  if (error.cause == FileError::kSharingViolation) report(ShowMessage, kStrShareViolation, {sourcePath});
}

void RecoveryEngine::fillTargetFiles(TargetStore& store, NdbFormat& ndb, const std::string& sourcePath,
                                     const std::string& targetPath) {
  std::unique_ptr<MailboxReconstruction> steps = services_.makeReconstruction(*this, ndb, store);
  const char* displayName =
      loadString(options_.SourceKind == 1 || options_.SourceKind == 3 ? kStrOfflineFolder : kStrPersonalFolder);
  std::string currentPath = targetPath;
  for (std::uint32_t splitNumber = 0;; ++splitNumber) {
    if (queryAbort() != 0) return;
    splitPending = false;
    if (splitNumber > 0) {
      sendText(LogLine, "-");
      report(LogLine, kStrSplitFile, {currentPath});
    }
    // Creating the target truncates it: a target that is the source under
    // another name (a link) would destroy what is being recovered.
    if (namesSameFile(sourcePath, currentPath) ||
        !store.create(currentPath, kPstNoEncryption, displayName, "", pstFormat)) {
      std::string text = loadString(kStrErrorCreateTarget);
      sendText(ErrorText, text);
      sendText(ShowMessage, text);
      return;
    }
    steps->buildNamedPropMap();
    steps->copyStoreProperties();
    total_ += steps->recoverRootFolder();
    const std::int32_t levels[] = {options_.Level1Recovery, options_.Level2Recovery, options_.Level3Recovery,
                                   options_.Level4Recovery, options_.Level5Recovery};
    for (int level = 1; level <= 5; ++level) {
      if (isOn(levels[level - 1])) total_ += steps->runLostAndFoundPass(level);
    }
    if (!splitPending) return;
    steps->resetForNextFile();
    store.close();
    currentPath = splitFileName(targetPath, splitNumber + 1);
  }
}

std::int32_t RecoveryEngine::run(const char* sourcePath, const EngineOptions* options, std::uintptr_t /*reserved*/,
                                 const char* targetPath) {
  total_ = 0;
  if (options != nullptr) std::memcpy(&options_, options, sizeof options_);
  const std::string source = sourcePath != nullptr ? sourcePath : "";
  const std::string target = targetPath != nullptr ? targetPath : "";
  reportProgress(0);

  try {
    CFile64Ex file(kSourceWindowBytes);
    FileError openError;
    pstFormat = chooseTargetFormat();
    sendText(SourceFile, source);
    if (!file.open(source, kSourceOpenMode, &openError)) {
      reportOpenFailure(openError, source);
    } else {
      report(LogLine, kStrAnalyzing);
      std::unique_ptr<TargetStore> store = services_.makeTargetStore();
      if (!store->initialize()) {
        std::string text = loadString(kStrErrorInitialization);
        sendText(ErrorText, text);
        sendText(ShowMessage, text);
        send(CloseMainWindow, nullptr);
        file.close();
      } else {
        {
          std::unique_ptr<NdbFormat> ansi = services_.makeNdbFormat(32, *this, file);
          std::unique_ptr<NdbFormat> unicode = services_.makeNdbFormat(64, *this, file);
          NdbFormat& ndb = chooseVariant(file, *ansi, *unicode);
          if (ndb.scanFile(kScanStart, kScanDivisor) != 0) {
            ndb.collectDataTreeRoots();
            ndb.collectSubnodeTreeRoots();
            reportProgress(kIndexesReady);
            fillTargetFiles(*store, ndb, source, target);
          }
          store->shutdown();
          file.close();
        }
        store.reset();
      }
    }
  } catch (const EngineException& error) {
    sendText(ErrorText, describeError(kStrErrorGeneral, &error));
  } catch (...) {
    report(ErrorText, kStrErrorUnknown, {loadString(kStrWholeRecovery)});
  }

  std::int32_t count = total_;
  send(RecoveredCount, &count);
  reportProgress(100);
  return total_ > 0 ? 1 : 0;
}

}  // namespace vexl
