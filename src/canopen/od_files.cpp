#include "canopen/od_files.h"

#include <cstring>
#include <system_error>

#include "base/atomic_file.h"
#include "base/guarded_file.h"
#include "canopen/dictionary_text.h"

namespace busprobe {

namespace {

// Far beyond any real dictionary (a full one of 2048 entries is well under 2 MB as EDS).
constexpr std::size_t kMaxDictionaryFileSize = 32 * 1024 * 1024;

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = s[s.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

}  // namespace

DictionaryFileKind DictionaryFileKindOf(const std::string& path) {
  if (EndsWithNoCase(path, ".eds")) return DictionaryFileKind::kEds;
  if (EndsWithNoCase(path, ".dcf")) return DictionaryFileKind::kDcf;
  return DictionaryFileKind::kText;
}

bool LoadDictionary(const std::string& path, EdsFileInfo& fileInfo, EdsDeviceInfo& deviceInfo,
                    ObjectDictionary& dictionary, const DictionaryLoadOptions& options,
                    std::string& problem) {
  problem.clear();
  std::string text, reason;
  if (ReadRegularFile(path, kMaxDictionaryFileSize, text, &reason) != GuardedReadStatus::kOk) {
    problem = reason.empty() ? "cannot open the file" : reason;
    return false;
  }
  const DictionaryFileKind kind = DictionaryFileKindOf(path);
  if (kind == DictionaryFileKind::kText) {
    ReadDictionaryText(text, dictionary, problem);
    return true;
  }
  return ReadEdsText(text, kind == DictionaryFileKind::kDcf, options.nodeId, fileInfo, deviceInfo, dictionary,
                     problem);
}

bool SaveDictionary(const std::string& path, const EdsFileInfo& fileInfo, const EdsDeviceInfo& deviceInfo,
                    const ObjectDictionary& dictionary, const DictionarySaveOptions& options,
                    std::string* error) {
  const DictionaryFileKind kind = DictionaryFileKindOf(path);
  std::string text;
  if (kind == DictionaryFileKind::kText) {
    text = WriteDictionaryText(dictionary);
  } else {
    EdsWriteOptions eds;
    eds.isDcf = kind == DictionaryFileKind::kDcf;
    eds.fileName = path;
    eds.utcSeconds = options.utcSeconds;
    eds.standardName = options.standardName;
    text = WriteEdsText(fileInfo, deviceInfo, dictionary, eds);
  }
  if (const int err = WriteFileAtomically(path, text); err != 0) {
    if (error) *error = std::generic_category().message(err);
    return false;
  }
  return true;
}

}  // namespace busprobe
