// The window program's string table. Every text the code puts on the screen
// or into the log is looked up here when it is used, so captions, hints and
// messages exist in exactly one place.
#pragma once

#include <QString>

namespace zelm::res {

inline QString str(const char* text) { return QString::fromUtf8(text); }

// Application
inline constexpr const char* kAppTitle = "Brellin";
inline constexpr const char* kOpenFilter = "Exchange offline storage files (*.ost)|*.ost|All files (*.*)|*.*";
inline constexpr const char* kSaveFilter = "Outlook data files (*.pst)|*.pst|All files (*.*)|*.*";

// Tab buttons and their hints
inline constexpr const char* kRepairTab = "&Recovery";
inline constexpr const char* kBatchRepairTab = "&Batch Recovery";
inline constexpr const char* kOptionsTab = "&Options";
inline constexpr const char* kAboutTab = "&About";
inline constexpr const char* kHintRepairTab = "Recover a single OST file";
inline constexpr const char* kHintBatchRepairTab = "Recover a batch of OST files";
inline constexpr const char* kHintOptionsTab = "Set recovery options";
inline constexpr const char* kHintAboutTab = "Detailed information about the product";
inline constexpr const char* kOptionsSubTab = "O&ptions";
inline constexpr const char* kAdvOptionsSubTab = "A&dvanced Options";

// Single-file page
inline constexpr const char* kSelSrcFile = "Sele&ct OST file to be recovered:";
inline constexpr const char* kHintSrcFile = "Input OST file to be recovered";
inline constexpr const char* kSrcMore = "...";
inline constexpr const char* kHintSrcMore = "Browse and select OST file to be recovered";
inline constexpr const char* kHintSrcSearch = "Search OST file to be recovered on local computer";
inline constexpr const char* kSrcFormat = "&Format:";
inline constexpr const char* kHintSrcFormat = "Select version of OST file to be recovered(if known)";
inline constexpr const char* kSelDstFile = "O&utput recovered file as:";
inline constexpr const char* kHintDstFile = "Input output PST file name";
inline constexpr const char* kHintDstMore = "Browse and select output PST file name";
inline constexpr const char* kDstFormat = "For&mat:";
inline constexpr const char* kHintDstFormat = "Select output PST file version";
inline constexpr const char* kStartRecovery = "&Start Recovery";
inline constexpr const char* kStopRecovery = "&Stop Recovery";
inline constexpr const char* kLogHeading = "Recovery process log:";
inline constexpr const char* kSaveLog = "Save &Log";
inline constexpr const char* kHelp = "&Help";

// Format lists
inline constexpr const char* kFormatAuto = "Auto Determined";
inline constexpr const char* kFormatAnsi = "Outlook 97-2002";
inline constexpr const char* kFormatUnicode = "Outlook 2003/2007";

// Progress strip
inline constexpr const char* kProgressFormat = "%1% completed";
inline constexpr const char* kConsumedTimePrompt = "Time consumed: ";
inline constexpr const char* kElapsedPattern = "%1 hour(s) %2 minute(s) ";
inline constexpr const char* kConsumedPattern = "Consumed time: %1 hour(s) %2 minute(s) %3 second(s) %4 millisecond(s).";

// Batch page
inline constexpr const char* kSrcFormatBatch = "Source &File Format:";
inline constexpr const char* kDstFormatBatch = "&Target File Format:";
inline constexpr const char* kFileListLabel = "&List of files to be recovered:";
inline constexpr const char* kColSource = "Source File Name";
inline constexpr const char* kColTarget = "Target File Name";
inline constexpr const char* kColStatus = "Recovery Status";
inline constexpr const char* kAddFiles = "A&dd Files";
inline constexpr const char* kHintAddFiles = "Add one or multiple OST files to list";
inline constexpr const char* kSearchFiles = "S&earch Files";
inline constexpr const char* kHintSearchFiles = "Search and add one or multiple OST files to list";
inline constexpr const char* kRemoveFiles = "Re&move Files";
inline constexpr const char* kHintRemoveFiles = "Remove selected OST files from list";
inline constexpr const char* kRemoveAll = "Remo&ve All";
inline constexpr const char* kHintRemoveAll = "Remove all OST files in list";
inline constexpr const char* kStatusNotRecovered = "Not Recovered";
inline constexpr const char* kStatusSuccessful = "Successful";
inline constexpr const char* kStatusFailed = "Failed";
inline constexpr const char* kStatusAborted = "Aborted";
inline constexpr const char* kAlreadyInList = "File already exists in the list";
inline constexpr const char* kAddFilesFirst = "Please add files to the list first";
inline constexpr const char* kBatchSummary = "%1 file(s) recovered successfully";

// Search window
inline constexpr const char* kSearchBanner = "Search for source OST files to be recovered ";
inline constexpr const char* kSearchFilter = "Microsoft Exchange offline storage files (*.ost)|*.ost";
inline constexpr const char* kSearchFileNamePrompt = "S&earch for files named:";
inline constexpr const char* kLookIn = "Loo&k in:";
inline constexpr const char* kLocalHarddrives = "Local Harddrives (%1)";
inline constexpr const char* kHintDirectory = "Select or input the folder where file is searched";
inline constexpr const char* kHintSelectDir = "Browse and select the folder where file is searched";
inline constexpr const char* kRecurseSubDirs = "Search Su&bfolders";
inline constexpr const char* kStartSearch = "&Start Search";
inline constexpr const char* kStopSearch = "&Stop Search";
inline constexpr const char* kAdvOptionsPrompt = "Advanced O&ptions";
inline constexpr const char* kAdvOptionsShow = "&+";
inline constexpr const char* kAdvOptionsHide = "&-";
inline constexpr const char* kHintAdvOptions = "Show/Hide advanced search options";
inline constexpr const char* kFileSizeGroup = "File Size";
inline constexpr const char* kHintFileSizeGroup = "Search criteria on file size";
inline constexpr const char* kFileMinSize = "A&t least";
inline constexpr const char* kHintMinSize = "If selected, file size must >= xxx KB";
inline constexpr const char* kFileMaxSize = "At &most";
inline constexpr const char* kHintMaxSize = "If selected, file size must <= xxx KB";
inline constexpr const char* kKiloByteUnit = "KB";
inline constexpr const char* kFileAttrGroup = "File Attributes";
inline constexpr const char* kHintFileAttrGroup = "Search criteria on file attributes";
inline constexpr const char* kFileReadOnlyAttr = "Re&ad only";
inline constexpr const char* kHintReadOnlyAttr = "If selected, file must be read-only";
inline constexpr const char* kFileHiddenAttr = "Hidde&n";
inline constexpr const char* kHintHiddenAttr = "If selected, only hidden file will be searched";
inline constexpr const char* kFileSystemAttr = "S&ystem";
inline constexpr const char* kHintSystemAttr = "If selected, only system file will be searched";
inline constexpr const char* kFileArchiveAttr = "Archi&ve";
inline constexpr const char* kHintArchiveAttr = "If selected, only archive file will be searched";
inline constexpr const char* kFileTimeGroup = "File Time";
inline constexpr const char* kHintFileTimeGroup = "Search criteria on file time";
inline constexpr const char* kFileCreatedTime = "C&reated in";
inline constexpr const char* kHintCreatedTime = "If selected, file must be created in specified days";
inline constexpr const char* kFileLastAccessedTime = "&Last Accessed in";
inline constexpr const char* kHintLastAccessedTime = "If selected, file is last accessed in specified days";
inline constexpr const char* kFileModifiedTime = "Mo&dified in";
inline constexpr const char* kHintModifiedTime = "If selected, file must be modified in specified days";
inline constexpr const char* kDaysUnit = "days";
inline constexpr const char* kSearchResults = "Search Res&ults:";
inline constexpr const char* kColName = "Name";
inline constexpr const char* kColDirectory = "Directory";
inline constexpr const char* kColSize = "Size(bytes)";
inline constexpr const char* kColCreated = "Created";
inline constexpr const char* kColLastAccessed = "Last Accessed";
inline constexpr const char* kColLastModified = "Last Modified";
inline constexpr const char* kFilesFound = "%1 file(s) found";
inline constexpr const char* kSearchIn = "Search in";
inline constexpr const char* kOK = "&OK";
inline constexpr const char* kHintOK = "Close search window and recover selected found files";
inline constexpr const char* kCancel = "&Cancel";
inline constexpr const char* kHintCancel = "Close search window without recovering any found files";
inline constexpr const char* kSearchCompleted = "Search is completed. %1 file(s) found.";
inline constexpr const char* kSearchCancelled = "Search is cancelled by the user!";
inline constexpr const char* kSelectResults = "Please select the file(s) to be recovered from the search results!";
inline constexpr const char* kCancelSearchAndClose = "Cancel the current search and close the search window?";

// Option pages
inline constexpr const char* kOpenFixed = "&Open the fixed file when finished";
inline constexpr const char* kFastRecovery = "&Fast scan and recovery";
inline constexpr const char* kHeuristicRecoverRoot = "Re&cover root folder heuristically";
inline constexpr const char* kRecoverUnattchedAttach = "R&ecover unattached attachments";
inline constexpr const char* kSplitOversizePST = "&Split output PST file when it is larger than";
inline constexpr const char* kSizeUnit = "MB";
inline constexpr const char* kIgnoreZeroBlock = "&Ignore zero data chunks";
inline constexpr const char* kAlwaysIPMSubtree = "Al&ways put recovered items under interpersonal message root folder";
inline constexpr const char* kRemoveEmptyFolder =
    "Re&move empty folders(folders that don't contain any messages, objects and subfolders)";
inline constexpr const char* kRecoverMultiPropInBatch = "Reco&ver multiple properties of an object in batch";
inline constexpr const char* kAdvancedRecoveryGroup = "Advanced Recovery";
inline constexpr const char* kLevel1Recovery = "&Use first advanced recovery method";
inline constexpr const char* kLevel2Recovery = "U&se second advanced recovery method";
inline constexpr const char* kLevel3Recovery = "Us&e third advanced recovery method";
inline constexpr const char* kLevel4Recovery = "Use &forth advanced recovery method";
inline constexpr const char* kLevel5Recovery = "Use f&ifth advanced recovery method";
inline constexpr const char* kTempDir = "Dire&ctory for temporary files:";
inline constexpr const char* kBufSize = "I&nternal Processing Buffer Size:";
inline constexpr const char* kBufSizeUnit = "Bytes";
inline constexpr const char* kSelectTempDir = "Select directory for temporary files:";

// About page
inline constexpr const char* kVersionPrompt = "Version:";
inline constexpr const char* kAboutText =
    "Recovers the folders, messages and attachments of a damaged or orphaned offline storage file (OST) into a "
    "new personal folders file (PST).";

// Run log
inline constexpr const char* kLogStart = "Start recovery process ...";
inline constexpr const char* kLogAborted = "Recovery process is aborted.";
inline constexpr const char* kLogSourceFile = "File to be recovered: '%1'; File size = %2 bytes";
inline constexpr const char* kLogTargetFile = "Output recovered file as: '%1'";
inline constexpr const char* kLogCompletes = "Recovery process completes.";

// Messages
inline constexpr const char* kAskOverwrite = "A file named '%1' already exists. Overwrite it?";
inline constexpr const char* kFailRecover = "Fail to recover file '%1'!";
inline constexpr const char* kUserAborts = "User aborts the recovery process";
inline constexpr const char* kCannotOpenPst = "Cannot open the PST file '%1'!";
inline constexpr const char* kCannotOpenFile = "Cannot open file %1";
inline constexpr const char* kOutlookWarning =
    "Please make sure your computer has Outlook 2003 or 2007 installed! Otherwise Brellin cannot output "
    "Outlook 2003/2007 format PST file!";
inline constexpr const char* kSuccessReport =
    "%1 item(s) of the file '%2' have been recovered successfully. Normally recovered items are put in their "
    "original folders; items whose folders were lost are put in folders named Recovered_Group followed by a "
    "number.";

// The saved log
inline constexpr const char* kLogFilter = "Log files (*.log)|*.log";
inline constexpr const char* kLogDefaultExt = "log";
inline constexpr const char* kIncludeSysInfo = "Include S&ystem Information";
inline constexpr const char* kHintIncludeSysInfo = "Include system information in the log file";
inline constexpr const char* kCannotSaveLog = "Cannot write the log file '%1': %2";

// Setting information of a saved log
inline constexpr const char* kSettingInfo = "Setting Information:";
inline constexpr const char* kSettingInfoEnd = "End of Setting Information";
inline constexpr const char* kYes = "Yes";
inline constexpr const char* kNo = "No";
inline constexpr const char* kUnexpectedError = "Unexpected error during the recovery.";

// Message box captions
inline constexpr const char* kCaptionWarning = "Warning";
inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionInformation = "Information";
inline constexpr const char* kCaptionConfirm = "Confirm";

// Result dialog
inline constexpr const char* kClose = "&Close";
inline constexpr const char* kOpenWithOutlook =
    " Or use Outlook to open the recovered PST file and see the recovered items in it.";

}  // namespace zelm::res
