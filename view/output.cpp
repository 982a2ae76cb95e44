// Both outputs are written in full to temporary files before either is
// renamed into place, so a full disk or a missing folder leaves no half of
// the pair. Only a failure between the two renames needs undoing.
#include "output.h"

#include "files.h"

bool writeOutputs(const std::string& pagePath, const std::string& page, const std::string& jsonPath,
                  const std::string& json, std::string& error) {
    std::string pageTemporary;
    std::string jsonTemporary;
    if (!writeTemporaryFile(pagePath, page, pageTemporary, error)) return false;
    if (!writeTemporaryFile(jsonPath, json, jsonTemporary, error)) {
        removeFileQuietly(pageTemporary);
        return false;
    }
    if (!moveIntoPlace(pageTemporary, pagePath, error)) {
        removeFileQuietly(pageTemporary);
        removeFileQuietly(jsonTemporary);
        return false;
    }
    if (!moveIntoPlace(jsonTemporary, jsonPath, error)) {
        removeFileQuietly(jsonTemporary);
        removeFileQuietly(pagePath);
        return false;
    }
    return true;
}
